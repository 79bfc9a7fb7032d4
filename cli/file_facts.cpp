#include "cli/file_facts.h"

#include "cli/console.h"
#include "firmware/package_validation.h"
#include "firmware/refusal_texts.h"
#include "firmware/update_package.h"
#include "firmware/version_gate.h"
#include "platform/file.h"
#include "platform/joined_text.h"
#include "update/exit_codes.h"
#include "update/package_name.h"
#include "update/split_path.h"

#include <algorithm>

namespace meterload::cli {
namespace {

// A damaged table may claim any number of entries; a listing stops here.
constexpr std::int32_t kMaxListedEntries = 1000;

// A message box's text as its lines.
std::vector<std::string> SplitBox(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void ReadPackage(File& file, FileFacts& facts)
{
    facts.damage = ValidatePackage(file);
    const std::int64_t fits =
        (facts.size - static_cast<std::int64_t>(kPackageHeaderSize)) / static_cast<std::int64_t>(kPackageEntrySize);
    const PackageTable table =
        ReadPackageTable(file, static_cast<std::int32_t>(std::clamp<std::int64_t>(fits, 0, kMaxListedEntries)));
    facts.entryCount = table.entryCount;
    facts.rows = table.rows;
    if (facts.rows.empty()) {
        return;
    }
    const PackageRow& lead = facts.rows.front();
    if (lead.offset >= 0 && lead.offset < facts.size && file.Seek(lead.offset)) {
        facts.header = DecodeImageHeader(file);
        facts.headerRead = true;
        facts.zq6140 = IdentityMatches(facts.header);
    }
    // The order is told only for a table that the file holds whole.
    facts.plan = PlanPackage(table);
}

}  // namespace

std::uint64_t FileFacts::BytesToSend() const
{
    if (!package) {
        return bodySize;
    }
    return plan.BytesToSend();
}

std::vector<std::int32_t> FileFacts::SendOrder() const
{
    std::vector<std::int32_t> order;
    for (const PlannedImage& image : plan.images) {
        order.push_back(image.number);
    }
    return order;
}

FileFacts ReadFileFacts(const std::string& path)
{
    FileFacts facts;
    facts.path = path;
    facts.fileName = SplitPath(path).fileName;
    facts.package = IsPackageName(facts.fileName);
    const auto file = File::Open(path);
    if (!file) {
        return facts;
    }
    facts.size = file->Size();
    facts.readable = facts.size >= 0;
    if (!facts.readable) {
        return facts;
    }
    if (facts.package) {
        ReadPackage(*file, facts);
    } else {
        facts.header = DecodeImageHeader(*file);
        facts.headerRead = true;
        facts.zq6140 = IdentityMatches(facts.header);
        facts.bodySize = facts.size > static_cast<std::int64_t>(kImageHeaderSize)
                             ? static_cast<std::uint64_t>(facts.size) - kImageHeaderSize
                             : 0;
    }
    return facts;
}

Problem FileProblem(const FileFacts& facts)
{
    const std::string next = "Nothing was sent to any instrument; choose another file.";
    if (!facts.readable) {
        return {kFileRefused, facts.package ? "The first bin file not found." : "Couldn't open source file.",
                "Check the file's name and permissions: " + Printable(facts.path)};
    }
    if (facts.package && facts.damage) {
        std::string text = *facts.damage;
        std::replace(text.begin(), text.end(), '\n', ' ');
        return {kFileRefused, text, next};
    }
    if (!facts.zq6140) {
        std::string text = IdentityMismatchBoxText();
        std::replace(text.begin(), text.end(), '\n', ' ');
        return {kFileRefused, text, next};
    }
    return {};
}

GateVerdict JudgeVersion(const FileFacts& facts, const std::string& firmwareVersionField, RefusalForm form)
{
    const bool box = facts.package || form == RefusalForm::Box;
    GateVerdict verdict;
    if (!facts.zq6140) {
        verdict.refusal = box ? SplitBox(IdentityMismatchBoxText()) : IdentityMismatchLogLines();
    } else if (!VersionGate(firmwareVersionField, facts.header)) {
        verdict.refusal =
            box ? SplitBox(GateRefusalBoxText(facts.header.targetKind)) : GateRefusalLogLines(facts.header.targetKind);
    } else {
        verdict.accepted = true;
    }
    // The dialog's blank separator line says nothing here.
    verdict.refusal.erase(std::remove(verdict.refusal.begin(), verdict.refusal.end(), "\n"), verdict.refusal.end());
    return verdict;
}

std::string TargetName(std::uint8_t targetKind)
{
    return TargetKindName(targetKind);
}

namespace {

nlohmann::json HeaderJson(const FileFacts& facts)
{
    return {{"identity", std::string(facts.header.identity.data())},
            {"zq6140", facts.zq6140},
            {"target_kind", facts.header.targetKind},
            {"target", TargetName(facts.header.targetKind)},
            {"version", std::string(facts.header.version.data())}};
}

std::string HeaderText(const FileFacts& facts)
{
    return "identity \"" + Printable(facts.header.identity.data()) + "\" (" +
           (facts.zq6140 ? "a ZQ6140 image" : "not a ZQ6140 image") + "), target " +
           TargetName(facts.header.targetKind) + " (" + std::to_string(facts.header.targetKind) + "), version \"" +
           Printable(facts.header.version.data()) + "\"";
}

}  // namespace

nlohmann::json FactsJson(const FileFacts& facts)
{
    nlohmann::json json = {{"path", facts.path},
                           {"kind", facts.package ? "package" : "image"},
                           {"readable", facts.readable}};
    if (!facts.readable) {
        return json;
    }
    json["size"] = facts.size;
    if (!facts.package) {
        json["header"] = HeaderJson(facts);
        json["body_size"] = facts.bodySize;
        return json;
    }
    json["valid"] = !facts.damage.has_value();
    json["damage"] = facts.damage ? nlohmann::json(*facts.damage) : nlohmann::json();
    json["entry_count"] = facts.entryCount;
    json["entries"] = nlohmann::json::array();
    for (const PackageRow& row : facts.rows) {
        json["entries"].push_back(
            {{"number", row.number}, {"offset", row.offset}, {"size", row.size}, {"name", row.name}});
    }
    json["entry1_header"] = facts.headerRead ? HeaderJson(facts) : nlohmann::json();
    json["send_order"] = facts.SendOrder();
    json["bytes_to_send"] = facts.BytesToSend();
    return json;
}

std::vector<std::string> FactsText(const FileFacts& facts)
{
    std::vector<std::string> out;
    out.push_back("File:        " + Printable(facts.path));
    if (!facts.readable) {
        out.push_back("             cannot be read");
        return out;
    }
    out.push_back("Size:        " + std::to_string(facts.size) + " bytes");
    if (!facts.package) {
        out.push_back("Kind:        single image");
        out.push_back("Header:      " + HeaderText(facts));
        out.push_back("Body:        " + std::to_string(facts.bodySize) + " bytes to send");
        return out;
    }
    out.push_back("Kind:        package of " + std::to_string(facts.entryCount) + " entries");
    if (facts.damage) {
        std::string text = *facts.damage;
        std::replace(text.begin(), text.end(), '\n', ' ');
        out.push_back("Validation:  damaged: " + text);
    } else {
        out.push_back("Validation:  sound");
    }
    for (const PackageRow& row : facts.rows) {
        out.push_back("  entry " + std::to_string(row.number) + ": offset " + std::to_string(row.offset) + ", size " +
                      std::to_string(row.size) + ", name \"" + Printable(row.name) + "\"");
    }
    if (static_cast<std::int32_t>(facts.rows.size()) < facts.entryCount) {
        out.push_back("  (" + std::to_string(facts.entryCount - static_cast<std::int32_t>(facts.rows.size())) +
                      " more entries not in the file or not listed)");
    }
    if (facts.headerRead) {
        out.push_back("Entry 1:     " + HeaderText(facts));
    }
    if (facts.plan.images.empty()) {
        return out;
    }
    out.push_back("Send order:  " + Joined(facts.SendOrder(), [](std::int32_t n) { return std::to_string(n); }));
    out.push_back("To send:     " + std::to_string(facts.BytesToSend()) + " bytes");
    return out;
}

}  // namespace meterload::cli
