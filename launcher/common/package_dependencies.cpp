#include "package_dependencies.h"

#include "program_output.h"
#include "shared_names.h"
#include "text_parts.h"

#include <algorithm>
#include <map>
#include <sys/wait.h>
#include <utility>

namespace {

struct Relation {
    std::string name;
    std::string op; ///< empty for an unversioned relation
    std::string version;
};

struct Installed {
    std::string version;
    std::vector<Relation> provides;
};

std::string trimmed(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

/// The non-empty parts of text between separators, trimmed.
std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    for (const std::string &part : parts_of(text, separator, true)) {
        std::string trimmedPart = trimmed(part);
        if (!trimmedPart.empty())
            parts.push_back(std::move(trimmedPart));
    }
    return parts;
}

/// "libfoo:any (>= 1.2)" as name, operator and version; architecture qualifiers dropped.
Relation parse_relation(const std::string &text)
{
    Relation relation;
    const size_t open = text.find('(');
    relation.name = trimmed(text.substr(0, open));
    relation.name = relation.name.substr(0, relation.name.find(':'));
    if (open != std::string::npos) {
        const std::string inside = text.substr(open + 1, text.find(')', open) - open - 1);
        const size_t versionStart = inside.find_first_not_of("<>= \t");
        relation.op = trimmed(inside.substr(0, versionStart));
        relation.version = versionStart == std::string::npos ? std::string() : trimmed(inside.substr(versionStart));
    }
    return relation;
}

/// The package's relation fields, as dpkg-deb -f prints them (continuation lines joined).
std::vector<std::string> relation_groups(const char *packagePath, bool &known)
{
    const char *const argv[] = {kDpkgDebPath, "-f", packagePath, "Pre-Depends", "Depends", nullptr};
    std::string fields;
    const int status = program_output(argv, fields);
    known = status == 0;
    std::string joined;
    for (const std::string &line : parts_of(fields, '\n', true)) {
        // "Depends: a, b" or, for a long field, a continuation line that starts with a blank.
        const size_t colon = line.find(':');
        const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        if (continuation || colon == std::string::npos)
            joined += " " + line;
        else
            joined += ", " + line.substr(colon + 1);
    }
    return split(joined, ',');
}

/// Every package in a state that satisfies dependencies, with its version and what it provides.
std::map<std::string, Installed> installed_packages(bool &known)
{
    const char *const argv[]
        = {kDpkgQueryPath, "-W", "-f=${Package}\\t${Status}\\t${Version}\\t${Provides}\\n", nullptr};
    std::string listing;
    known = WIFEXITED(program_output(argv, listing)) && !listing.empty();
    std::map<std::string, Installed> installed;
    for (const std::string &line : parts_of(listing, '\n', true)) {
        std::vector<std::string> fields = parts_of(line, '\t', false);
        fields.resize(4);
        const std::string &name = fields[0], &status = fields[1], &version = fields[2], &provides = fields[3];
        const std::string state = status.substr(status.rfind(' ') + 1);
        if (state != "installed" && state != "triggers-pending" && state != "triggers-awaited")
            continue;
        Installed &entry = installed[name];
        entry.version = version;
        for (const std::string &provided : split(provides, ','))
            entry.provides.push_back(parse_relation(provided));
    }
    return installed;
}

bool version_satisfies(const std::string &version, const std::string &op, const std::string &wanted)
{
    if (op.empty())
        return true;
    if (version.empty())
        return false;
    const char *const argv[] = {kDpkgPath, "--compare-versions", version.c_str(), op.c_str(), wanted.c_str(), nullptr};
    std::string ignored;
    const int status = program_output(argv, ignored);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool satisfied(const Relation &wanted, const std::map<std::string, Installed> &installed)
{
    const auto real = installed.find(wanted.name);
    if (real != installed.end() && version_satisfies(real->second.version, wanted.op, wanted.version))
        return true;
    // A virtual package: an unversioned relation takes any provider, a versioned one only a versioned Provides.
    const auto provides = [&](const Relation &provided) {
        return provided.name == wanted.name
               && (wanted.op.empty() || version_satisfies(provided.version, wanted.op, wanted.version));
    };
    return std::any_of(installed.begin(), installed.end(), [&](const std::pair<const std::string, Installed> &package) {
        return std::any_of(package.second.provides.begin(), package.second.provides.end(), provides);
    });
}

} // namespace

std::vector<std::string> unmet_dependencies(const char *packagePath)
{
    bool fieldsKnown = false;
    const std::vector<std::string> groups = relation_groups(packagePath, fieldsKnown);
    if (!fieldsKnown || groups.empty())
        return {};
    bool databaseKnown = false;
    const std::map<std::string, Installed> installed = installed_packages(databaseKnown);
    if (!databaseKnown)
        return {};
    std::vector<std::string> unmet;
    for (const std::string &group : groups) {
        bool met = false;
        for (const std::string &alternative : split(group, '|'))
            met = met || satisfied(parse_relation(alternative), installed);
        if (!met)
            unmet.push_back(group);
    }
    return unmet;
}

std::string packages_to_install(const std::vector<std::string> &unmet)
{
    std::string names;
    for (const std::string &group : unmet) {
        const std::vector<std::string> alternatives = split(group, '|');
        if (!alternatives.empty())
            names += (names.empty() ? "" : " ") + parse_relation(alternatives.front()).name;
    }
    return names;
}

UnmetDependencyText unmet_dependency_text(const std::vector<std::string> &unmet)
{
    std::string relations;
    for (const std::string &group : unmet)
        relations += (relations.empty() ? "" : ", ") + group;
    const bool one = unmet.size() == 1;
    return {"The package needs " + relations + (one ? ", which is not installed." : ", which are not installed."),
            std::string("Install ") + (one ? "it" : "them") + " first (apt-get install " + packages_to_install(unmet)
                + "), then run the installer again"};
}
