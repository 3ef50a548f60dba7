#include "archive.h"

std::string saf_archive(const std::vector<GeneratedFile> &members) {
    std::string header, data;
    for (const GeneratedFile &m : members) {
        if (m.name.empty() || m.name.find('\n') != std::string::npos || m.name[0] == ' ' ||
            m.name.size() > 1000)
            return std::string();
        header += std::to_string(m.data.size()) + " " + m.name + "\n";
        data += m.data;
    }
    header += "-\n";
    return header + data;
}
