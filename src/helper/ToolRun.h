#pragma once
// One tool run of an installation step: the argument vector, never a shell line. lineText()
// gives the line the step stands for, as it is logged (paths escaped with a backslash before
// "(", ")", space and "&", or between single quotes); run() maps the tool through the tool
// table and each path under the file-system root, and runs it with posix_spawn and a fixed
// environment, waiting for it.
#include <string>
#include <vector>

namespace telvo::helper {

// A backslash before every "(", then ")", then space, then "&".
std::string escapeString(const std::string& text);

struct ToolArgument {
    enum class Form { Plain, Escaped, Quoted };
    std::string text;       // as the line shows it (before escaping)
    Form form = Form::Plain;
    bool path = false;      // mapped under the file-system root when run
    std::string hostText;   // when not empty, what the tool gets instead of `text`

    static ToolArgument plain(std::string t) { return {std::move(t), Form::Plain, false, {}}; }
    static ToolArgument escapedPath(std::string p) { return {std::move(p), Form::Escaped, true, {}}; }
    static ToolArgument quotedPath(std::string p) { return {std::move(p), Form::Quoted, true, {}}; }
    static ToolArgument escaped(std::string t, std::string host = {}) {
        return {std::move(t), Form::Escaped, false, std::move(host)};
    }
};

class ToolRun {
public:
    ToolRun(std::string tool, std::vector<ToolArgument> arguments)
        : tool_(std::move(tool)), arguments_(std::move(arguments)) {}

    const std::string& tool() const { return tool_; }
    std::string lineText() const;
    // The vector the tool gets: its host program, then each argument (paths mapped).
    std::vector<std::string> argumentVector() const;
    // Runs it: the exit status, 128 + the signal that ended it, or -1 when it could not start
    // (a tool outside the table included).
    int run() const;

private:
    std::string tool_;
    std::vector<ToolArgument> arguments_;
};

// Runs a host program with that vector and the fixed environment; as ToolRun::run().
int spawnAndWait(const std::vector<std::string>& argv);

}  // namespace telvo::helper
