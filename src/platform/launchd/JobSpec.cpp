// Reading a job's keys from its property list.
#include "platform/launchd/JobSpec.h"

namespace telvo::launchd {

namespace {
ErrorPtr invalid(const std::string& why) { return makeError("launchd", 1, why); }
}  // namespace

JobSpec JobSpec::fromPropertyList(const Value& plist, ErrorPtr* error) {
    JobSpec spec;
    auto fail = [&](const std::string& why) {
        if (error) *error = invalid(why);
        return JobSpec();
    };
    if (error) error->reset();
    if (!plist.isDictionary()) return fail("the property list is no dictionary");
    const Value& label = plist["Label"];
    if (!label.isString() || label.string().empty()) return fail("no Label");
    spec.label = label.string();
    if (spec.label.find('/') != std::string::npos) return fail("the Label holds a \"/\"");
    const Value& arguments = plist["ProgramArguments"];
    if (!arguments.isNull()) {
        if (!arguments.isArray()) return fail("ProgramArguments is no array");
        for (const Value& a : arguments.array()) {
            if (!a.isString()) return fail("ProgramArguments holds a value that is no string");
            spec.arguments.push_back(a.string());
        }
    }
    const Value& program = plist["Program"];
    if (!program.isNull()) {
        if (!program.isString() || program.string().empty()) return fail("Program is no string");
        spec.program = program.string();
    } else if (!spec.arguments.empty()) {
        spec.program = spec.arguments.front();
    }
    if (spec.program.empty()) return fail("neither Program nor ProgramArguments");
    if (spec.program.front() != '/') return fail("the program \"" + spec.program + "\" is no absolute path");
    if (spec.arguments.empty()) spec.arguments.push_back(spec.program);
    const Value& services = plist["MachServices"];
    if (!services.isNull()) {
        if (!services.isDictionary()) return fail("MachServices is no dictionary");
        for (const auto& [name, value] : services.dictionary()) {
            if (name.empty() || name.front() == '.' || name.find('/') != std::string::npos)
                return fail("the Mach service name \"" + name + "\" cannot name a socket");
            if (value.isBoolean() && !value.boolValue()) continue;
            spec.machServices.push_back(name);
        }
    }
    auto flag = [&](const char* key, bool& out) {
        const Value& v = plist[key];
        if (v.isNull()) return true;
        // KeepAlive may also be a dictionary of conditions; any of them keeps the job alive here.
        if (v.isDictionary() && std::string(key) == "KeepAlive") {
            out = true;
            return true;
        }
        if (!v.isBoolean()) return false;
        out = v.boolValue();
        return true;
    };
    if (!flag("RunAtLoad", spec.runAtLoad)) return fail("RunAtLoad is no boolean");
    if (!flag("KeepAlive", spec.keepAlive)) return fail("KeepAlive is no boolean");
    if (!flag("Disabled", spec.disabled)) return fail("Disabled is no boolean");
    const Value& sessions = plist["LimitLoadToSessionType"];
    if (sessions.isString()) {
        spec.sessionTypes.push_back(sessions.string());
    } else if (sessions.isArray()) {
        for (const Value& s : sessions.array()) {
            if (!s.isString()) return fail("LimitLoadToSessionType holds a value that is no string");
            spec.sessionTypes.push_back(s.string());
        }
    } else if (!sessions.isNull()) {
        return fail("LimitLoadToSessionType is neither a string nor an array");
    }
    return spec;
}

bool JobSpec::allowsSession(const std::string& sessionType) const {
    if (sessionTypes.empty()) return sessionType == "Aqua" || sessionType == "System";
    for (const auto& s : sessionTypes)
        if (s == sessionType) return true;
    return false;
}

}  // namespace telvo::launchd
