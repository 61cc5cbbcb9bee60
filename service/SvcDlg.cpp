#include "service/SvcDlg.h"

namespace tarvok {

void TDlgSvc::ShowModal(std::ostream& out) const {
    for (const std::string& line : lines_) {
        out << line << '\n';
    }
    out.flush();
}

} // namespace tarvok
