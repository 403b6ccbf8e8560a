#pragma once
// Stamping a downloader: the deployment settings go into the string table of
// a copy of the program, the security key behind its marker. The output
// appears only when everything succeeded.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "settings.h"
#include "settings_text.h"

// The validated result of every name=value the publisher gave, later ones
// overriding earlier ones. "key" names the security key.
struct StampPlan {
    std::map<UINT, std::wstring> strings;  // by string id; "" removes the string
    std::optional<std::string> key;        // 40 lower-case hexadecimal digits
};

// Throws wexception naming the first unknown setting or bad value.
StampPlan plan_stamp(const std::vector<Assignment>& assignments);

// Copies `input` to `output` with the plan applied. On failure throws
// wexception and leaves no output (an existing output file is untouched)
// and no temporary file behind.
void stamp_file(const std::wstring& input, const std::wstring& output, const StampPlan& plan);

// What a program file holds, read the way the downloader reads it.
struct StampedSettings {
    DeploymentSettings values;  // an absent string reads as ""
    std::optional<std::string> key;
    std::wstring key_problem;  // why there is no key
};

StampedSettings read_stamped_settings(const std::wstring& path);

// The --print text: one name=value line per setting in id order (an absent
// one preceded by a comment saying so), then key=<digits>. It reads back as
// a settings file.
std::wstring format_stamped_settings(const StampedSettings& stamped);
