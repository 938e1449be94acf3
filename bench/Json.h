// A small JSON writer for the bench's results: enough for figures, texts and nesting.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace vela::bench {

class Json {
public:
    void open(const char* key = nullptr, char bracket = '{') {
        item(key);
        out_ += bracket;
        first_.push_back(true);
    }
    void close(char bracket = '}') {
        first_.pop_back();
        newline();
        out_ += bracket;
    }
    void num(const char* key, double v, int decimals = 3) {
        item(key);
        if (!std::isfinite(v)) {
            out_ += "null";
            return;
        }
        char t[64];
        std::snprintf(t, sizeof t, "%.*f", decimals, v);
        out_ += t;
    }
    void integer(const char* key, long long v) {
        item(key);
        out_ += std::to_string(v);
    }
    void null(const char* key) {
        item(key);
        out_ += "null";
    }
    void boolean(const char* key, bool v) {
        item(key);
        out_ += v ? "true" : "false";
    }
    void str(const char* key, const std::string& v) {
        item(key);
        quote(v);
    }
    const std::string& text() const { return out_; }

private:
    void quote(const std::string& v) {
        out_ += '"';
        for (unsigned char c : v) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20) {
                char t[8];
                std::snprintf(t, sizeof t, "\\u%04x", c);
                out_ += t;
            } else {
                out_ += static_cast<char>(c);
            }
        }
        out_ += '"';
    }
    void newline() {
        out_ += '\n';
        out_.append(first_.size() * 2, ' ');
    }
    void item(const char* key) {
        if (!first_.empty()) {
            if (!first_.back())
                out_ += ',';
            first_.back() = false;
            newline();
        }
        if (key) {
            quote(key);
            out_ += ": ";
        }
    }
    std::string out_;
    std::vector<bool> first_;
};

} // namespace vela::bench
