// cabwrite.cpp -- the install tests' CABs, made by the tests' one CAB writer.
#include "cabwrite.h"
#include "setupinfo_writer.h"

namespace installtest {

Bytes MakeCab(const std::vector<std::pair<std::string, Bytes>> &members)
{
    std::vector<testcab::CabMember> cab;
    for (const auto &m : members)
        cab.push_back({m.first, m.second});
    return testcab::WriteCab(cab);
}

}  // namespace installtest
