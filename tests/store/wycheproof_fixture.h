// Reader of the committed Wycheproof subset (data/wycheproof_secp256k1_sha256.txt).
#ifndef STORE_WYCHEPROOF_FIXTURE_H
#define STORE_WYCHEPROOF_FIXTURE_H

#include <stdint.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct wycheproof_vector {
    int id;
    bool valid;              // Wycheproof's verdict
    std::vector<uint8_t> x;  // public key, 32 bytes big-endian
    std::vector<uint8_t> y;
    std::vector<uint8_t> message;
    std::vector<uint8_t> r;  // 32 bytes big-endian
    std::vector<uint8_t> s;
    std::string comment;
};

inline std::vector<uint8_t> wycheproof_hex(const std::string &hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

inline std::vector<wycheproof_vector> wycheproof_load(const std::string &path) {
    std::vector<wycheproof_vector> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string id, result, key, msg, sig;
        fields >> id >> result >> key >> msg >> sig;
        wycheproof_vector v;
        v.id = std::stoi(id);
        v.valid = result == "valid";
        std::vector<uint8_t> point = wycheproof_hex(key);
        v.x.assign(point.begin() + 1, point.begin() + 33);
        v.y.assign(point.begin() + 33, point.end());
        if (msg != "-") v.message = wycheproof_hex(msg);
        std::vector<uint8_t> rs = wycheproof_hex(sig);
        v.r.assign(rs.begin(), rs.begin() + 32);
        v.s.assign(rs.begin() + 32, rs.end());
        std::getline(fields >> std::ws, v.comment);
        out.push_back(v);
    }
    return out;
}

#endif
