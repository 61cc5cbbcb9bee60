// The system log's reload: any bytes in the log file are read back, extended by a line and cut
// down to the last two lines, with a display attached. Input: the bytes of a log file; its first
// line is also the message added, so messages meet control characters too.
#include "fuzz/FuzzSupport.h"
#include "shared/Clock.h"
#include "shared/SysLog.h"

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

namespace tarvok {
namespace {

using fuzzing::Require;

constexpr std::size_t MessageMax = 200;

class TListDisplay final : public TLogDisplay {
public:
    std::size_t Count() const override { return items_.size(); }
    void Append(const std::string& line) override { items_.push_back(line); }
    void DeleteFirst() override {
        if (!items_.empty()) {
            items_.pop_front();
        }
    }
    void Clear() override { items_.clear(); }
    void SelectLastThenNone() override {}

    bool Mirrors(const std::deque<std::string>& lines) const { return items_ == lines; }

private:
    std::deque<std::string> items_;
};

void NoWait(int) {}

// The file as another logger on it would see it.
std::deque<std::string> Reread(const std::string& path, const TClock& clock) {
    const TSysLogger other(path, clock, NoWait);
    return other.Lines;
}

} // namespace
} // namespace tarvok

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvok;
    using fuzzing::Require;

    fuzzing::ClearScratchDir();
    const std::string path = fuzzing::ScratchDir() + "tarvok.log";
    const std::string_view content = fuzzing::AsText(data, size);
    fuzzing::WriteScratchFile(path, content);

    const TFixedClock clock(EncodeDate(2026, 12, 6) + EncodeTime(19, 16, 20));
    TSysLogger log(path, clock, NoWait);
    TListDisplay display;
    log.Display = &display;
    log.NamedMonth = true;

    log.Reload();
    const std::deque<std::string> loaded = log.Lines;
    Require(loaded == SplitLogLines(content), "the reload differs from the file's lines");
    Require(std::none_of(loaded.begin(), loaded.end(),
                         [](const std::string& l) { return l.find('\n') != std::string::npos; }),
            "a reloaded line holds a line end");
    Require(display.Mirrors(log.Lines), "the display differs from the reloaded log");

    const std::string_view firstLine = content.substr(0, std::min(content.find('\n'), MessageMax));
    log.Add(firstLine);
    Require(log.Lines.size() == loaded.size() + 1 && log.Lines.back() == log.LastLine,
            "Add did not store exactly one line");
    Require(std::none_of(log.LastLine.begin(), log.LastLine.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }),
            "a control character reached the log line");
    Require(display.Mirrors(log.Lines), "the display differs from the log after Add");
    Require(Reread(path, clock) == log.Lines, "the rewritten file reads back other lines");

    const std::deque<std::string> whole = log.Lines;
    log.Truncate(2);
    const std::deque<std::string> lastTwo(whole.size() > 2 ? whole.end() - 2 : whole.begin(),
                                          whole.end());
    Require(log.Lines == lastTwo, "the truncation kept other than the last two lines");
    Require(display.Mirrors(log.Lines), "the display differs from the truncated log");
    Require(Reread(path, clock) == lastTwo, "the truncated file reads back other lines");
    log.Display = nullptr;
    return 0;
}
