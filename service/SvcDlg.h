// The installation report: the lines that installing, removing or the usage text produce,
// shown to the user at the end on standard output.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarvok {

class TDlgSvc {
public:
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // Writes every line, each ending with a line break.
    void ShowModal(std::ostream& out) const;

private:
    std::vector<std::string> lines_;
};

} // namespace tarvok
