#include "State.h"

#include <openssl/rand.h>

#include <cstdio>
#include <random>

namespace vrmsim {

std::string RandomHex(std::size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(bytes)) != 1) {
        std::random_device device;
        for (auto& c : raw) c = static_cast<char>(device());
    }
    std::string text;
    char pair[4];
    for (unsigned char c : raw) {
        std::snprintf(pair, sizeof pair, "%02X", c);
        text += pair;
    }
    return text;
}

std::string Sessions::Issue(std::int64_t now, int lifetimeSeconds) {
    std::string token = RandomHex(32);
    expiry_[token] = lifetimeSeconds > 0 ? now + lifetimeSeconds : 0;
    return token;
}

bool Sessions::Valid(const std::string& token, std::int64_t now) {
    auto it = expiry_.find(token);
    if (it == expiry_.end()) return false;
    if (it->second != 0 && now >= it->second) {
        expiry_.erase(it);
        return false;
    }
    return true;
}

bool Sessions::Drop(const std::string& token) {
    return expiry_.erase(token) > 0;
}

std::size_t Sessions::ExpireAll() {
    std::size_t count = expiry_.size();
    expiry_.clear();
    return count;
}

std::size_t Sessions::Live(std::int64_t now) {
    for (auto it = expiry_.begin(); it != expiry_.end();) {
        it = (it->second != 0 && now >= it->second) ? expiry_.erase(it) : std::next(it);
    }
    return expiry_.size();
}

RecordedRequest& Recorder::Record(const HttpRequest& request, bool keep, std::size_t maxKept) {
    ++stats_.requests;
    ++stats_.requestsByPath[request.method + " " + request.path];
    RecordedRequest record;
    record.seq = nextSeq_++;
    record.method = request.method;
    record.target = request.target;
    record.path = request.path;
    record.query = request.rawQuery;
    record.hasQuery = request.hasQuery;
    record.headers = request.headers;
    record.body = request.body;
    if (!keep || maxKept == 0) {
        scratch_ = std::move(record);
        return scratch_;
    }
    while (requests_.size() >= maxKept) requests_.pop_front();
    requests_.push_back(std::move(record));
    return requests_.back();
}

std::size_t Recorder::ClearRequests() {
    std::size_t count = requests_.size();
    requests_.clear();
    return count;
}

void Recorder::Reset() {
    requests_.clear();
    nextSeq_ = 1;
    stats_ = Stats();
}

}  // namespace vrmsim
