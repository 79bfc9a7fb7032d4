// What a firmware file holds, read with the same readers and checks as the
// updates use, before any instrument is touched.
#pragma once

#include "cli/instruments.h"
#include "firmware/image_header.h"
#include "firmware/package_plan.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace meterload::cli {

struct FileFacts {
    std::string path;
    std::string fileName;
    bool package = false;  // taken for a package, by the same name rule as the updates
    bool readable = false;
    std::int64_t size = 0;

    // The image header: the file's own, or that of entry 1 of a package.
    ImageHeader header;
    bool headerRead = false;
    bool zq6140 = false;
    std::uint64_t bodySize = 0;  // a single image: what is sent

    // A package.
    std::optional<std::string> damage;  // the whole-package validation's verdict
    std::int32_t entryCount = 0;
    std::vector<PackageRow> rows;  // the table, as far as the file holds it
    PackagePlan plan;              // empty unless the file holds the table whole

    std::uint64_t BytesToSend() const;
    std::vector<std::int32_t> SendOrder() const;
};

FileFacts ReadFileFacts(const std::string& path);

// Exit code 4 and the dialog's words when the file cannot be installed on any
// instrument: unreadable, damaged, or not a ZQ6140 image.
Problem FileProblem(const FileFacts& facts);

struct GateVerdict {
    bool accepted = false;
    std::vector<std::string> refusal;  // the dialog's text for this kind of file
};
// The version gate for `firmwareVersionField` (identity first, as the updates
// check). The refusal in the message-box form, or in the form the dialog
// shows for this kind of file (log lines for a single image).
enum class RefusalForm { Box, Dialogs };
GateVerdict JudgeVersion(const FileFacts& facts, const std::string& firmwareVersionField, RefusalForm form);

std::string TargetName(std::uint8_t targetKind);
nlohmann::json FactsJson(const FileFacts& facts);
std::vector<std::string> FactsText(const FileFacts& facts);

}  // namespace meterload::cli
