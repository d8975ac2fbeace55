#include "apps/vexa/option_parser.h"

#include <getopt.h>

namespace vexa::cli {
namespace {

// The rule for `arg` when it is one of ours in its long form: "--name" or "--name=value".
const OptionRule* OwnOption(const std::string& arg, const std::vector<OptionRule>& rules) {
    if (!arg.starts_with("--")) return nullptr;
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    for (const auto& rule : rules) {
        if (name == rule.name) return &rule;
    }
    return nullptr;
}

}  // namespace

std::optional<std::string> ParsedOptions::Value(const std::string& name) const {
    auto found = values_.find(name);
    if (found == values_.end() || found->second.empty()) return std::nullopt;
    return found->second.back();
}

const std::vector<std::string>& ParsedOptions::Values(const std::string& name) const {
    static const std::vector<std::string> none;
    auto found = values_.find(name);
    return found == values_.end() ? none : found->second;
}

ParsedOptions ParseOptions(const Args& args, const std::vector<OptionRule>& rules) {
    std::vector<option> longOptions;
    // "+" stops at the first operand; ":" lets us report errors ourselves.
    std::string shortOptions = "+:";
    for (const auto& entry : rules) {
        longOptions.push_back(
            {entry.name, entry.takesValue ? required_argument : no_argument, nullptr, entry.shortName});
        if (entry.shortName != 0) shortOptions += std::string(1, entry.shortName) + (entry.takesValue ? ":" : "");
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    std::string program = "vexa";
    std::vector<std::string> storage(args);
    std::vector<char*> argv{program.data()};
    for (auto& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);

    ParsedOptions parsed;
    // optind 0 restarts getopt's scan, which keeps state between calls.
    optind = 0;
    opterr = 0;
    for (;;) {
        int index = -1;
        const int result = getopt_long(static_cast<int>(argv.size() - 1), argv.data(), shortOptions.c_str(),
                                       longOptions.data(), &index);
        if (result == -1) break;
        if (result == '?') throw UsageError("unknown option '" + std::string(argv[optind - 1]) + "'");
        if (result == ':') throw UsageError("option '" + std::string(argv[optind - 1]) + "' needs a value");
        // A one-letter form leaves `index` alone; its letter names the option.
        if (index < 0) {
            for (std::size_t i = 0; i < rules.size(); ++i) {
                if (rules[i].shortName == result) index = static_cast<int>(i);
            }
        }
        if (index < 0) throw UsageError("unknown option '" + std::string(argv[optind - 1]) + "'");
        const OptionRule& entry = rules[static_cast<std::size_t>(index)];
        parsed.values_[entry.name].push_back(entry.takesValue ? optarg : "");
    }
    for (int i = optind; i < static_cast<int>(argv.size() - 1); ++i) parsed.operands_.push_back(argv[i]);
    return parsed;
}

ParsedOptions ParseOwnOptions(const Args& args, const std::vector<OptionRule>& rules) {
    Args own;
    std::vector<std::string> others;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            others.insert(others.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        // Ours only before the first argument that is not: a recipient, even one spelled like an
        // option (an address may be "--transport=cmd|x@example.org"), goes to the other program.
        // An argument with '@' is an address, never ours, wherever it stands.
        const OptionRule* rule = arg.find('@') == std::string::npos ? OwnOption(arg, rules) : nullptr;
        if (!rule) {
            others.insert(others.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        own.push_back(arg);
        // "--name VALUE": the next argument is the value, whatever it looks like.
        if (rule->takesValue && arg.find('=') == std::string::npos && i + 1 < args.size()) own.push_back(args[++i]);
    }
    // Ours alone, now in the form the strict parser reads: it checks the values as for any command.
    ParsedOptions parsed = ParseOptions(own, rules);
    parsed.operands_ = std::move(others);
    return parsed;
}

}  // namespace vexa::cli
