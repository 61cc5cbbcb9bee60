#include "platform/VersionNote.h"

#include "platform/ErrorText.h"
#include "platform/Files.h"
#include "platform/posix/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvok::platform {

namespace {

using TBytes = std::span<const std::uint8_t>;

constexpr std::uint32_t SectionTypeNote = 7; // SHT_NOTE
constexpr std::uint32_t VersionNoteType = 1;
constexpr std::uint8_t VersionNoteName[] = {'T', 'a', 'r', 'v', 'o', 'k', 0};
constexpr std::uint32_t VersionNoteSize = 8;

// A program has a few dozen sections holding a few small notes. Tables and note sections far
// beyond that belong to no program of ours; they are skipped instead of read into memory.
constexpr std::uint64_t MaxSectionTableSize = 1 << 20;
constexpr std::uint64_t MaxNoteSectionSize = 1 << 16;

// Reads little-endian numbers whatever the host's byte order.
std::uint64_t Little(TBytes bytes, std::size_t offset, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = value << 8 | bytes[offset + i];
    }
    return value;
}

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The open file, read only inside its size as it was when opened.
class TFile {
public:
    explicit TFile(const std::string& path)
        : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        // O_NONBLOCK: a FIFO at the path must not hang the reader; plain files ignore it.
        struct stat info {};
        if (!fd_.Valid() || ::fstat(fd_.Get(), &info) != 0) {
            Fail();
        }
        regular_ = S_ISREG(info.st_mode);
        size_ = regular_ ? static_cast<std::uint64_t>(info.st_size) : 0;
    }

    bool Regular() const { return regular_; }
    std::uint64_t Size() const { return size_; }

    // Fills the buffer from the file at the offset; false when that range is not all inside
    // the file.
    bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
        if (offset > size_ || buffer.size() > size_ - offset) {
            return false;
        }
        while (!buffer.empty()) {
            ssize_t got =
                ::pread(fd_.Get(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                Fail();
            }
            if (got == 0) {
                return false; // the file shrank under us
            }
            buffer = buffer.subspan(static_cast<std::size_t>(got));
            offset += static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    [[noreturn]] void Fail() const {
        const int error = errno;
        throw TIoError(path_, ErrorText(error));
    }

    std::string path_;
    TFd fd_;
    bool regular_ = false;
    std::uint64_t size_ = 0;
};

// Where the section headers lie and how to read one, for either word size.
struct TSectionTable {
    bool Wide = false; // 64-bit
    std::uint64_t Offset = 0;
    std::uint64_t EntrySize = 0;
    std::uint64_t Count = 0;
};

std::optional<TSectionTable> ReadSectionTable(const TFile& file) {
    std::array<std::uint8_t, 64> header{};
    if (!file.ReadAt(0, std::span(header).first(16))) {
        return std::nullopt;
    }
    constexpr std::uint8_t magic[] = {0x7f, 'E', 'L', 'F'};
    const bool isElf = std::equal(std::begin(magic), std::end(magic), header.begin());
    const std::uint8_t wordClass = header[4];
    const std::uint8_t byteOrder = header[5];
    if (!isElf || (wordClass != 1 && wordClass != 2) || byteOrder != 1) {
        return std::nullopt;
    }
    TSectionTable table;
    table.Wide = wordClass == 2;
    if (!file.ReadAt(0, std::span(header).first(table.Wide ? 64 : 52))) {
        return std::nullopt;
    }
    table.Offset = table.Wide ? Little(header, 0x28, 8) : Little(header, 0x20, 4);
    table.EntrySize = Little(header, table.Wide ? 0x3a : 0x2e, 2);
    table.Count = Little(header, table.Wide ? 0x3c : 0x30, 2);
    // A count of 0 with a table means more than 65279 sections, counted elsewhere: no program
    // has that many, so such a file has no version.
    if (table.Offset == 0 || table.Count == 0 || table.EntrySize < (table.Wide ? 64u : 40u) ||
        table.Count * table.EntrySize > MaxSectionTableSize) {
        return std::nullopt;
    }
    return table;
}

std::optional<TVersionParts> FindVersionNote(TBytes notes, std::uint64_t alignment) {
    constexpr std::uint64_t headerSize = 12;
    std::uint64_t at = 0;
    // Every step moves on by at least a note header, so the walk ends within the section.
    while (notes.size() - at >= headerSize) {
        const std::uint64_t nameSize = Little(notes, at, 4);
        const std::uint64_t descSize = Little(notes, at + 4, 4);
        const std::uint64_t type = Little(notes, at + 8, 4);
        const std::uint64_t nameAt = at + headerSize;
        const std::uint64_t descAt = AlignUp(nameAt + nameSize, alignment);
        if (descAt > notes.size() || descSize > notes.size() - descAt) {
            return std::nullopt;
        }
        TBytes name = notes.subspan(nameAt, nameSize);
        if (type == VersionNoteType && descSize == VersionNoteSize &&
            std::ranges::equal(name, VersionNoteName)) {
            TVersionParts parts{};
            for (std::size_t i = 0; i < parts.size(); ++i) {
                parts[i] = static_cast<std::uint16_t>(Little(notes, descAt + 2 * i, 2));
            }
            return parts;
        }
        at = std::min<std::uint64_t>(AlignUp(descAt + descSize, alignment), notes.size());
    }
    return std::nullopt;
}

// The version note in one section, when the section is a readable note section holding it.
std::optional<TVersionParts> ReadSectionNote(const TFile& file, TBytes entry, bool wide) {
    if (Little(entry, 4, 4) != SectionTypeNote) {
        return std::nullopt;
    }
    const std::uint64_t offset = wide ? Little(entry, 0x18, 8) : Little(entry, 0x10, 4);
    const std::uint64_t size = wide ? Little(entry, 0x20, 8) : Little(entry, 0x14, 4);
    // Notes are padded to 8 bytes only in sections aligned to 8; every other note to 4.
    const std::uint64_t alignment =
        (wide ? Little(entry, 0x30, 8) : Little(entry, 0x20, 4)) == 8 ? 8 : 4;
    if (size > MaxNoteSectionSize) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> notes(static_cast<std::size_t>(size));
    if (!file.ReadAt(offset, notes)) {
        return std::nullopt;
    }
    return FindVersionNote(notes, alignment);
}

} // namespace

std::optional<TVersionParts> ReadVersionNote(const std::string& path) {
    TFile file(path);
    if (!file.Regular()) {
        return std::nullopt;
    }
    const auto table = ReadSectionTable(file);
    if (!table) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> entries(static_cast<std::size_t>(table->Count * table->EntrySize));
    if (!file.ReadAt(table->Offset, entries)) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < table->Count; ++i) {
        TBytes entry = TBytes(entries).subspan(i * table->EntrySize, table->EntrySize);
        if (auto parts = ReadSectionNote(file, entry, table->Wide)) {
            return parts;
        }
    }
    return std::nullopt;
}

} // namespace tarvok::platform
