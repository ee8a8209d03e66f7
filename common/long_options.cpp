#include "common/long_options.h"

#include <utility>

namespace zelk {

LongOptions& LongOptions::Flag(std::string name, bool& target) {
    options_.push_back({std::move(name), &target, nullptr});
    return *this;
}

LongOptions& LongOptions::Value(std::string name, std::string& target, bool emptyAllowed) {
    std::string needs = name + " needs a value";
    return Value(std::move(name), [&target, emptyAllowed, needs](const std::string& value) {
        if (value.empty() && !emptyAllowed) return needs;
        target = value;
        return std::string();
    });
}

LongOptions& LongOptions::Value(std::string name,
                                std::function<std::string(const std::string&)> take) {
    options_.push_back({std::move(name), nullptr, std::move(take)});
    return *this;
}

LongOptions& LongOptions::Positional(std::vector<std::string>& target) {
    positional_ = &target;
    return *this;
}

LongOptions::Outcome LongOptions::Parse(const std::vector<std::string>& args,
                                        std::string& error) const {
    Outcome outcome = Outcome::kRun;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            outcome = Outcome::kHelp;
            continue;
        }
        if (arg == "--version") {
            if (outcome == Outcome::kRun) outcome = Outcome::kVersion;
            continue;
        }
        if (arg.size() <= 2 || arg.rfind("--", 0) != 0) {
            if (positional_ == nullptr) {
                error = "unexpected argument: " + arg;
                return Outcome::kError;
            }
            positional_->push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const Option* option = nullptr;
        for (const Option& o : options_) {
            if (o.name == name) option = &o;
        }
        if (option == nullptr || (option->flag != nullptr && equals != std::string::npos)) {
            error = "unknown option: " + arg;
            return Outcome::kError;
        }
        if (option->flag != nullptr) {
            *option->flag = true;
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = name + " needs a value";
            return Outcome::kError;
        }
        error = option->take(value);
        if (!error.empty()) return Outcome::kError;
    }
    return outcome;
}

}  // namespace zelk
