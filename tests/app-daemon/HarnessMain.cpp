// The harness's entry: it runs itself again under "xvfb-run -a" (one harness at a time on the
// machine, so that two never race for a display number; flock holds the lock itself, so that
// no child of the harness can keep it), then makes the one QApplication of the program on the
// xcb platform. Listing the tests needs no display.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/LeakSuppressions.h"

extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

namespace {

bool onPath(const char* program) {
    std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing |= std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    if (!listing && !std::getenv("TELVO_HARNESS_DISPLAY") && onPath("xvfb-run") && onPath("flock")) {
        setenv("TELVO_HARNESS_DISPLAY", "xvfb", 1);
        std::vector<const char*> args = {"flock", "-o", "/tmp/telvo-app-daemon-display.lock", "xvfb-run", "-a",
                                         "-s", "-ac -screen 0 1100x700x24 -nolisten tcp"};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("flock", const_cast<char* const*>(args.data()));
        perror("flock");
        return 127;
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (listing || !std::getenv("DISPLAY")) return RUN_ALL_TESTS();  // the fixture skips without a display
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Telvo Server"));
    return RUN_ALL_TESTS();
}
