#include "platform/VersionNote.h"

#include "platform/Files.h"
#include "tests/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvok::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t ProgBits = 1;
constexpr std::uint32_t NoteType = 7;
constexpr TVersionParts Stamped{10, 2, 300, 4000};

void Put(std::string& bytes, std::size_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (8 * i) & 0xff);
    }
}

std::string Padded(std::string bytes, std::size_t alignment) {
    bytes.resize((bytes.size() + alignment - 1) / alignment * alignment, '\0');
    return bytes;
}

std::string Note(std::string_view name, std::uint32_t type, const std::string& desc,
                 std::size_t alignment = 4) {
    std::string header(12, '\0');
    Put(header, 0, name.size(), 4);
    Put(header, 4, desc.size(), 4);
    Put(header, 8, type, 4);
    return Padded(header + std::string(name), alignment) + Padded(desc, alignment);
}

std::string Desc(TVersionParts parts) {
    std::string desc(8, '\0');
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Put(desc, 2 * i, parts[i], 2);
    }
    return desc;
}

const std::string_view OurName{"Tarvok\0", 7};
const std::string OurNote = Note(OurName, 1, Desc(Stamped));

struct TSection {
    std::uint32_t Type;
    std::uint64_t Alignment;
    std::string Data;
};

// A minimal program file: header, section table (with the empty section 0), then the sections'
// contents, so that the last section is the last thing in the file.
struct TImage {
    bool Wide;
    std::string Bytes;
    std::size_t EntrySize;
    std::size_t EntryAt(std::size_t section) const {
        return (Wide ? 64 : 52) + section * EntrySize;
    }
};

TImage BuildImage(bool wide, const std::vector<TSection>& sections) {
    TImage image{wide, {}, wide ? 64u : 40u};
    const std::size_t count = sections.size() + 1;
    image.Bytes.assign(image.EntryAt(count), '\0');
    image.Bytes.replace(0, 7,
                        "\x7f"
                        "ELF");
    image.Bytes[4] = wide ? 2 : 1;
    image.Bytes[5] = 1;
    image.Bytes[6] = 1;
    Put(image.Bytes, wide ? 0x28 : 0x20, image.EntryAt(0), wide ? 8 : 4);
    Put(image.Bytes, wide ? 0x3a : 0x2e, image.EntrySize, 2);
    Put(image.Bytes, wide ? 0x3c : 0x30, count, 2);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const TSection& section = sections[i];
        image.Bytes = Padded(image.Bytes, section.Alignment);
        const std::size_t entry = image.EntryAt(i + 1);
        const std::size_t word = wide ? 8 : 4;
        Put(image.Bytes, entry + 4, section.Type, 4);
        Put(image.Bytes, entry + (wide ? 0x18 : 0x10), image.Bytes.size(), word);
        Put(image.Bytes, entry + (wide ? 0x20 : 0x14), section.Data.size(), word);
        Put(image.Bytes, entry + (wide ? 0x30 : 0x20), section.Alignment, word);
        image.Bytes += section.Data;
    }
    return image;
}

class VersionNoteTest : public testing_support::TempDirTest {
protected:
    std::string Path() const { return (dir_ / "program").string(); }
    std::optional<TVersionParts> Read(const std::string& bytes) const {
        std::ofstream(Path(), std::ios::binary | std::ios::trunc) << bytes;
        return ReadVersionNote(Path());
    }
};

TEST_F(VersionNoteTest, FindsTheNoteAmongOtherSectionsAndNotes) {
    const std::string gnuName{"GNU\0", 4};
    struct Row {
        const char* what;
        bool wide;
        std::vector<TSection> sections;
    };
    const Row rows[] = {
        {"32-bit", false, {{NoteType, 4, OurNote}}},
        {"64-bit", true, {{NoteType, 4, OurNote}}},
        {"after a foreign note",
         true,
         {{NoteType, 4, Note(gnuName, 3, "build-id-bytes") + OurNote}}},
        // A reader that pads to 4 here lands inside the foreign note's padding.
        {"in a section padded to 8",
         true,
         {{NoteType, 8,
           Note(gnuName, 5, std::string(12, 'p'), 8) + Note(OurName, 1, Desc(Stamped), 8)}}},
        {"after the same bytes in a section that holds no notes",
         false,
         {{ProgBits, 4, Note(OurName, 1, Desc({9, 9, 9, 9}))}, {NoteType, 4, OurNote}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Read(BuildImage(row.wide, row.sections).Bytes), Stamped);
    }
}

TEST_F(VersionNoteTest, EveryTruncationOfAStampedFileHasNoVersion) {
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "64-bit" : "32-bit");
        const std::string bytes = BuildImage(wide, {{NoteType, 4, OurNote}}).Bytes;
        ASSERT_EQ(Read(bytes), Stamped);
        for (std::size_t size = bytes.size(); size-- > 0;) {
            SCOPED_TRACE(size);
            fs::resize_file(Path(), size);
            EXPECT_EQ(ReadVersionNote(Path()), std::nullopt);
        }
    }
}

TEST_F(VersionNoteTest, DamagedSectionTablesAndNotesHaveNoVersion) {
    struct Row {
        const char* what;
        bool wide;
        std::size_t field; // offset within our section's table entry, or of the note, or file
        enum { InHeader, InEntry, InNote } where;
        std::uint64_t value;
        std::size_t width;
    };
    constexpr std::uint64_t huge = ~std::uint64_t{0} - 15;
    const Row rows[] = {
        {"table beyond the end", false, 0x20, Row::InHeader, 1000, 4},
        {"table entries too small", false, 0x2e, Row::InHeader, 39, 2},
        {"table longer than the file", false, 0x30, Row::InHeader, 3, 2},
        {"64-bit table offset overflowing", true, 0x28, Row::InHeader, huge, 8},
        {"section not a note section", true, 4, Row::InEntry, ProgBits, 4},
        {"section beyond the end", true, 0x18, Row::InEntry, 1000, 8},
        {"section offset overflowing", true, 0x18, Row::InEntry, huge, 8},
        {"section longer than the file", true, 0x20, Row::InEntry, 21, 8},
        {"section size huge", true, 0x20, Row::InEntry, huge, 8},
        {"32-bit section longer than the file", false, 0x14, Row::InEntry, 0xffffffff, 4},
        {"name size huge", true, 0, Row::InNote, 0xffffffff, 4},
        {"descriptor size huge", true, 4, Row::InNote, 0xfffffff0, 4},
        {"descriptor too short", true, 4, Row::InNote, 6, 4},
        {"another note type", true, 8, Row::InNote, 2, 4},
        {"another name", true, 12, Row::InNote, 'X', 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TImage image = BuildImage(row.wide, {{NoteType, 4, OurNote}});
        const std::size_t noteAt = image.Bytes.size() - OurNote.size();
        const std::size_t base = row.where == Row::InHeader  ? 0
                                 : row.where == Row::InEntry ? image.EntryAt(1)
                                                             : noteAt;
        Put(image.Bytes, base + row.field, row.value, row.width);
        EXPECT_EQ(Read(image.Bytes), std::nullopt);
    }
}

TEST_F(VersionNoteTest, OtherKindsOfFileHaveNoVersionAndMissingOnesRaise) {
    EXPECT_EQ(ReadVersionNote(dir_.string()), std::nullopt);
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadVersionNote(fifo), std::nullopt) << "and no hang waiting for a writer";

    const std::string missing = (dir_ / "missing").string();
    try {
        ReadVersionNote(missing);
        FAIL() << "no error raised";
    } catch (const TIoError& error) {
        EXPECT_EQ(error.Path(), missing);
    }
}

} // namespace
} // namespace tarvok::platform
