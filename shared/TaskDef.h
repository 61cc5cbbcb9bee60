// The task record, its 496-byte stored form, and the ordered task list both programs keep.
//
// A TTaskDef is plain data; the list owns private copies and hands out copies only, so nothing
// outside the list ever points into it. Texts hold at most TaskTextMax characters: longer text
// is cut to its first TaskTextMax when stored in the list or encoded.
//
//   TTaskList list;
//   TTaskDef task = TTaskDef::New();
//   task.Name = "Backup";
//   list.AddTask(task, true);            // task.Id is now the smallest free id, e.g. 1
//   list.SaveToFile(dir + "tarvok.tsk");
#pragma once

#include "shared/ProcPrio.h"
#include "shared/ScheDef.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

inline constexpr std::size_t TaskTextMax = 100;

// Value-initialised (TTaskDef{}) it is the all-zero record: Id 0 means "no task".
struct TTaskDef {
    std::int32_t Id = 0;
    std::string Name;
    std::string Command;
    std::string Parameters;
    std::string WorkDir;
    bool Enabled = false;
    bool Blocking = false;
    bool Visible = false;
    std::uint8_t Priority = 0; // 0 High, 1 Realtime, 2 Normal, 3 Low; others kept as read
    TScheDef Schedule;

    // What a task the user creates starts from: all zero but Visible and Normal priority.
    static TTaskDef New();

    friend bool operator==(const TTaskDef&, const TTaskDef&) = default;
};

// "Name [Id]", the way tasks are shown to the user.
std::string TaskCaption(const TTaskDef& task);

inline constexpr std::size_t TaskDefSize = 496;
using TTaskDefBytes = std::array<std::uint8_t, TaskDefSize>;

// The stored form: little-endian; each text a length byte and a 100-byte field; the schedule at
// offset 412. Padding and the bytes after a text's last character are written as zero.
void EncodeTask(const TTaskDef& task, std::span<std::uint8_t, TaskDefSize> out);
// Reads the stored form without validating it. A length byte above 100 reads as 100, so a text
// never reaches past its own field; any non-zero boolean byte is true.
TTaskDef DecodeTask(std::span<const std::uint8_t, TaskDefSize> in);

// Tasks in insertion order, which is the order they are tested and stored in. Positions are
// 0-based; a position out of range raises std::out_of_range.
class TTaskList {
public:
    // Appends a copy. With assignId the record first gets the smallest positive id no entry uses
    // (written back to the caller's record); without, its id is kept unchecked, duplicates and
    // non-positive ids included. Returns the stored id.
    std::int32_t AddTask(TTaskDef& record, bool assignId);

    TTaskDef GetTask(std::size_t position) const;
    // The first entry with the id, or the all-zero record when none has it.
    TTaskDef FindTask(std::int32_t id) const;
    // Removes the first entry with the record's id; nothing happens when there is none.
    void DeleteTask(const TTaskDef& record);
    void DeleteAt(std::size_t position);
    std::size_t Count() const { return tasks_.size(); }
    void Exchange(std::size_t a, std::size_t b);
    void Clear() { tasks_.clear(); }

    // Replaces the content by the records of the file, ids as stored. A file whose length is
    // not a whole number of records keeps the complete ones and then raises TIoError ("Read
    // beyond end of file"); a file that cannot be read leaves the list empty and raises.
    void LoadFromFile(const std::string& path);
    // The same from a file's content already read (the service reads through a checked
    // descriptor); `path` only names the file in the error.
    void LoadFromBytes(std::string_view content, const std::string& path);
    // Replaces the file whole, so a failure leaves the previous file as it was and raises
    // TIoError. An empty list deletes the file instead; failing to delete is ignored.
    void SaveToFile(const std::string& path) const;

    // The same records in the same order.
    friend bool operator==(const TTaskList&, const TTaskList&) = default;

private:
    std::int32_t SmallestFreeId() const;

    std::vector<TTaskDef> tasks_;
};

} // namespace tarvok
