#include "tests/package/package_fixture.h"

#include "update/hand_over.h"

#include "update/package_update.h"

#include <deque>
#include <filesystem>

namespace meterload::testing {

std::string RepliesConfig(const std::vector<std::string>& items)
{
    std::string config = "replies=";
    for (std::size_t i = 0; i < items.size(); ++i) {
        config += (i > 0 ? "," : "") + items[i];
    }
    return config + "\n";
}

Bytes ReplyBytes(const std::string& item)
{
    if (item == "none") {
        return {};
    }
    if (item.size() == 3 && item.compare(0, 2, "ab") == 0) {
        return {0xAB, static_cast<std::uint8_t>(item[2])};
    }
    return BytesOf(item);
}

Bytes LeadImage(std::size_t size, const std::string& version, std::uint8_t targetKind)
{
    ImageSpec spec;
    spec.version = version;
    spec.targetKind = targetKind;
    spec.bodySize = size - kTestImageHeaderSize;
    spec.bodySeed = 1;
    return ImageBytes(spec);
}

Bytes PlainImage(std::size_t size, std::uint8_t seed)
{
    return ImageBody(size, seed);
}

PackageUpdateTest::PackageUpdateTest()
    : timeline_([this] { return sim_.TranscriptText(); }),
      clock_(virtualClock_, timeline_),
      dialog_(recorder_, timeline_),
      context_{dialog_, clock_, sim_.LibraryPath()}
{
    sim_.UseClock(virtualClock_);
}

void PackageUpdateTest::Configure(const std::string& text)
{
    ASSERT_TRUE(sim_.Configure(text)) << text;
}

std::string PackageUpdateTest::PackagePath() const
{
    return (std::filesystem::path(sim_.Directory()) / "update.pak").string();
}

std::string PackageUpdateTest::WritePackage(const Bytes& lead, const std::vector<Bytes>& others)
{
    PackageBuilder builder;
    builder.Image(lead, "lead.bin");
    for (const Bytes& image : others) {
        builder.Image(image);
    }
    builder.WriteTo(PackagePath());
    return PackagePath();
}

ProcedureResult PackageUpdateTest::Install(const std::string& handOver)
{
    return Install(PackagePath(), handOver);
}

ProcedureResult PackageUpdateTest::Install(const std::string& packagePath, const std::string& handOver)
{
    // As the dialog's hand-over is read.
    return InstallPackage(context_, packagePath, SerialFromHandOver(handOver));
}

ExpectedTimeline PackageUpdateTest::ExpectedInstall(const Bytes& lead, const std::vector<Bytes>& others,
                                                    const std::vector<std::string>& replies,
                                                    const std::string& idnReply, std::size_t failingFrame)
{
    std::deque<std::string> script(replies.begin(), replies.end());
    const auto next = [&script] {
        if (script.empty()) {
            return Bytes{'0'};
        }
        const Bytes reply = ReplyBytes(script.front());
        script.pop_front();
        return reply;
    };

    ExpectedTimeline expected;
    expected.Local().Identify(idnReply).EnterUpdateMode();
    std::size_t sent = 0;
    for (const Bytes& image : others) {
        expected.Run(image, 0, 20);
        if (!expected.Acknowledge(2000, next(), next, ++sent == failingFrame)) {
            return expected;
        }
    }
    expected.Sleep(10);
    const std::size_t last = expected.Run(lead, kTestImageHeaderSize, 10);
    if (last == 52 || last == 116 || last == 180) {
        expected.Write("@?\n");
    }
    expected.Acknowledge(1000, next(), next, ++sent == failingFrame);
    return expected;
}

}  // namespace meterload::testing
