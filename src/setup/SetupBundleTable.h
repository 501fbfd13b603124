#pragma once
// The setup plug-in's one exported symbol, "SetupBundleInstaller", and the versioned table of C
// functions it answers: the calls of the plug-in's principal class, on an opaque object. Only
// plain C types cross it; no exception leaves the plug-in; a reply is one call of a function
// with the caller's context, made at most once per install or uninstall.
#include <stddef.h>
#include <stdint.h>

extern "C" {

#define TELVO_SETUP_BUNDLE_TABLE_VERSION 1u
#define TELVO_SETUP_BUNDLE_SYMBOL "SetupBundleInstaller"

typedef void (*TelvoSetupBundleReply)(void* context, long value);

struct TelvoSetupBundleTable {
    uint32_t version;  // TELVO_SETUP_BUNDLE_TABLE_VERSION
    uint32_t size;     // sizeof(struct TelvoSetupBundleTable) as the plug-in was built
    // A new installer (init); null when it could not be made.
    void* (*create)(void);
    void (*setCurrentLocation)(void* installer, const char* path);
    void (*setExcludeAgent)(void* installer, int exclude);
    int (*isHelperInstalled)(void* installer, const char* path);
    void (*installFromPath)(void* installer, const char* path, TelvoSetupBundleReply reply, void* context);
    void (*uninstallWithBundle)(void* installer, const char* path, TelvoSetupBundleReply reply, void* context);
    // Copies installLocation (NUL-terminated, cut to size - 1); answers its full length.
    size_t (*copyInstallLocation)(void* installer, char* buffer, size_t size);
    void (*destroy)(void* installer);
    // Frees the object (after its reply; never from within the reply).
    void (*release)(void* installer);
};

// Answers the table for that version, or null when the plug-in does not offer it.
typedef const struct TelvoSetupBundleTable* (*TelvoSetupBundleEntry)(uint32_t version);
}
