// Command-line options of the subcommands, parsed with getopt_long: long options, some with a
// one-letter form (-q for --quiet), each either a flag or taking a value, possibly repeated; what
// is left are the operands. A command that wraps another program takes only its own options and
// leaves the rest to that program.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "apps/vexa/cli.h"

namespace vexa::cli {

struct OptionRule {
    const char* name;
    bool takesValue;
    char shortName = 0;  // 0: the long form only
};

class ParsedOptions {
public:
    bool Has(const std::string& name) const { return values_.contains(name); }
    std::optional<std::string> Value(const std::string& name) const;
    const std::vector<std::string>& Values(const std::string& name) const;
    const std::vector<std::string>& Operands() const { return operands_; }

private:
    friend ParsedOptions ParseOptions(const Args&, const std::vector<OptionRule>&);
    friend ParsedOptions ParseOwnOptions(const Args&, const std::vector<OptionRule>&);
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> operands_;
};

// Throws UsageError for an unknown option or a missing value.
ParsedOptions ParseOptions(const Args& args, const std::vector<OptionRule>& rules);

// For a command that hands its arguments on to another program (send, to the real sendmail):
// its own options, in their long form and named in full, are taken only as the leading
// arguments, and never an argument that holds '@' (an address); from the first other argument on
// everything is an operand, in its order, so `-oi -f addr -t` and the recipients reach the other
// program as they were given and no recipient can become an option. Throws UsageError for an own
// option without its value.
ParsedOptions ParseOwnOptions(const Args& args, const std::vector<OptionRule>& rules);

}  // namespace vexa::cli
