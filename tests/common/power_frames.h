// The real power-protocol frames of testdata/power/frames.tsv: per row the frame ("~" to a carriage
// return written as the two characters \r), the verdicts of its CHKSUM and LCHKSUM, VER, ADR, CID1,
// CID2 (hexadecimal) and the INFO bytes present.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testfiles {

struct PowerFrame {
    std::string frame;  // "~" .. "\r", the carriage return as one character
    bool chksum_ok, lchksum_ok;
    unsigned ver, adr, cid1, cid2, info_bytes;
    std::string body() const { return frame.substr(1, frame.size() - 2); }  // VER through CHKSUM
};

// Empty when the file is absent.
inline std::vector<PowerFrame> power_frames(const std::filesystem::path& testdata) {
    std::ifstream in(testdata / "power/frames.tsv");
    std::vector<PowerFrame> rows;
    std::string line, frame, chk, lchk;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::istringstream cols(line);
        PowerFrame r{};
        cols >> frame >> chk >> lchk >> std::hex >> r.ver >> r.adr >> r.cid1 >> r.cid2 >> std::dec >> r.info_bytes;
        if (!cols || frame.size() < 4 || frame.substr(frame.size() - 2) != "\\r") continue;
        r.frame = frame.substr(0, frame.size() - 2) + "\r";
        r.chksum_ok = chk == "1", r.lchksum_ok = lchk == "1";
        rows.push_back(r);
    }
    return rows;
}

}  // namespace testfiles
