// The programs' command lines, parsed one way: "--name VALUE" or "--name=VALUE" for an option
// with a value, "--name" for a flag, and --help (or -h) and --version in every program. An
// argument that does not start with "--", and "--" itself, is a positional argument.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zelk {

class LongOptions {
  public:
    LongOptions& Flag(std::string name, bool& target);
    // An option with a value (the next argument, whatever it is, or the text after '='); an
    // empty value is refused unless `emptyAllowed`.
    LongOptions& Value(std::string name, std::string& target, bool emptyAllowed = false);
    // An option whose value `take` checks and stores: it returns an error line, or "" when it
    // took the value.
    LongOptions& Value(std::string name, std::function<std::string(const std::string&)> take);
    // Where positional arguments go; without it they are refused.
    LongOptions& Positional(std::vector<std::string>& target);

    enum class Outcome { kRun, kHelp, kVersion, kError };
    // Parses the arguments after the program name. An error anywhere wins over --help and
    // --version; kError sets `error` to one line saying what is wrong.
    Outcome Parse(const std::vector<std::string>& args, std::string& error) const;

  private:
    struct Option {
        std::string name;
        bool* flag = nullptr;
        std::function<std::string(const std::string&)> take;
    };
    std::vector<Option> options_;
    std::vector<std::string>* positional_ = nullptr;
};

}  // namespace zelk
