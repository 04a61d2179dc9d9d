// Private profile (INI) files as kernel32 keeps them: sections and keys matched without regard
// to case, surrounding blanks ignored, a write changes one line and keeps every other line of the
// file as it was; written lines end in CR LF. Each call reads the file afresh, and a changed file
// is written to a temporary file beside it and renamed over it, so a failed write never leaves
// a half-written file behind.
#include "w32_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

enum class Kind { Section, Key, Other };

struct Line {
    Kind kind;
    std::string raw;    // the line as it stands in the file, without its line end
    std::string name;   // section or key name, blanks trimmed
    std::string value;  // key value, blanks trimmed
};

struct Profile {
    std::vector<Line> lines;
};

std::mutex g_profileMutex;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) b++;
    while (e > b && IsBlank(s[e - 1])) e--;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string PathOf(const char* file) {
    std::string p = file;
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

Line Parse(const std::string& raw) {
    Line line{Kind::Other, raw, std::string(), std::string()};
    std::string t = Trim(raw);
    if (!t.empty() && t[0] == '[') {
        size_t close = t.find(']');
        line.kind = Kind::Section;
        line.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (!t.empty() && t[0] != ';') {
        size_t eq = t.find('=');
        if (eq != std::string::npos) {
            line.kind = Kind::Key;
            line.name = Trim(t.substr(0, eq));
            line.value = Trim(t.substr(eq + 1));
        }
    }
    return line;
}

// false when the file cannot be read (missing, a directory, no permission).
bool Load(const std::string& path, Profile& profile) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        fclose(f);
        return false;
    }
    std::string data;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) data.append(chunk, n);
    fclose(f);
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string raw = data.substr(start, end - start);
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        profile.lines.push_back(Parse(raw));
        start = end + 1;
    }
    return true;
}

bool Save(const std::string& path, const Profile& profile) {
    std::string data;
    for (const Line& l : profile.lines) {
        data += l.raw;
        data += "\r\n";
    }
    std::string target = path;
    char real[PATH_MAX];
    mode_t mode = 0644;
    struct stat st;
    if (realpath(path.c_str(), real)) {
        target = real;
        if (stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    }
    std::string temp = target + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back(0);
    int fd = mkstemp(name.data());
    if (fd < 0) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < data.size()) {
        ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            ok = false;
        } else {
            done += (size_t)w;
        }
    }
    (void)fchmod(fd, mode);  // keeping the mode is best effort
    if (close(fd) != 0) ok = false;
    if (ok && rename(name.data(), target.c_str()) != 0) ok = false;
    if (!ok) {
        unlink(name.data());
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return ok;
}

// Index of the first section of that name, or -1.
int FindSection(const Profile& p, const std::string& section) {
    for (size_t i = 0; i < p.lines.size(); i++)
        if (p.lines[i].kind == Kind::Section && SameName(p.lines[i].name, section)) return (int)i;
    return -1;
}

// One past the last line of the section that starts at index.
size_t SectionEnd(const Profile& p, int index) {
    size_t i = (size_t)index + 1;
    while (i < p.lines.size() && p.lines[i].kind != Kind::Section) i++;
    return i;
}

int FindKey(const Profile& p, int section, const std::string& key) {
    size_t end = SectionEnd(p, section);
    for (size_t i = (size_t)section + 1; i < end; i++)
        if (p.lines[i].kind == Kind::Key && SameName(p.lines[i].name, key)) return (int)i;
    return -1;
}

DWORD CopyText(const std::string& s, char* buffer, DWORD size) {
    DWORD n = (DWORD)std::min<size_t>(s.size(), size - 1);
    memcpy(buffer, s.data(), n);
    buffer[n] = 0;
    return n;
}

// A list of zero-terminated strings ending in an empty one. When it does not fit, the last
// string that fits in part is cut, two terminators follow, and the result is size - 2.
DWORD CopyList(const std::vector<std::string>& items, char* buffer, DWORD size) {
    size_t pos = 0;
    for (const std::string& s : items) {
        if (pos + s.size() + 1 < size) {
            memcpy(buffer + pos, s.data(), s.size());
            buffer[pos + s.size()] = 0;
            pos += s.size() + 1;
            continue;
        }
        if (size < 2) {
            buffer[0] = 0;
            return 0;
        }
        size_t room = size - pos >= 2 ? size - pos - 2 : 0;
        size_t n = std::min(room, s.size());
        memcpy(buffer + pos, s.data(), n);
        buffer[pos + n] = 0;
        buffer[size - 1] = 0;
        buffer[size - 2] = 0;
        return size - 2;
    }
    buffer[pos] = 0;
    if (pos == 0 && size > 1) buffer[1] = 0;
    return (DWORD)pos;
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) return v.substr(1, v.size() - 2);
    return v;
}

std::vector<std::string> SectionNames(const Profile& p) {
    std::vector<std::string> names;
    for (const Line& l : p.lines)
        if (l.kind == Kind::Section) names.push_back(l.name);
    return names;
}

}  // namespace

extern "C" DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR buffer,
                                                  DWORD size, LPCSTR file) {
    if (!buffer || size == 0) return 0;
    std::string def = fallback ? fallback : "";
    while (!def.empty() && def.back() == ' ') def.pop_back();  // the default loses trailing blanks
    std::lock_guard<std::mutex> g(g_profileMutex);
    Profile p;
    if (!file || !file[0] || !Load(PathOf(file), p)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return CopyText(def, buffer, size);
    }
    if (!section) return CopyList(SectionNames(p), buffer, size);
    int s = FindSection(p, Trim(section));
    if (key) {
        std::string k = Trim(key);
        int i = (s >= 0 && !k.empty()) ? FindKey(p, s, k) : -1;
        return CopyText(i >= 0 ? Unquote(p.lines[(size_t)i].value) : def, buffer, size);
    }
    if (section[0]) {
        std::vector<std::string> keys;
        if (s >= 0) {
            size_t end = SectionEnd(p, s);
            for (size_t i = (size_t)s + 1; i < end; i++)
                if (p.lines[i].kind == Kind::Key) keys.push_back(p.lines[i].name);
        }
        DWORD n = CopyList(keys, buffer, size);
        if (!buffer[0]) return CopyText(def, buffer, size);
        return n;
    }
    buffer[0] = 0;
    return 0;
}

extern "C" UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT fallback, LPCSTR file) {
    char text[30];
    if (GetPrivateProfileStringA(section, key, "", text, sizeof(text), file) == 0) return (UINT)fallback;
    // The number is read as far as it goes: leading blanks, a sign, then decimal digits, or
    // hexadecimal, octal or binary after 0x, 0o or 0b; it wraps like a 32-bit value.
    const char* p = text;
    while (*p && (unsigned char)*p <= ' ') p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O')) {
        base = 8;
        p += 2;
    } else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) {
        base = 2;
        p += 2;
    }
    uint32_t value = 0;
    for (;; p++) {
        unsigned digit;
        if (*p >= '0' && *p <= '9')
            digit = (unsigned)(*p - '0');
        else if (*p >= 'a' && *p <= 'f')
            digit = (unsigned)(*p - 'a' + 10);
        else if (*p >= 'A' && *p <= 'F')
            digit = (unsigned)(*p - 'A' + 10);
        else
            break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return negative ? (UINT)(0u - value) : (UINT)value;
}

extern "C" BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    if (!section) {
        // All three NULL only flushes a cache, which this implementation does not keep.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!file || !file[0]) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::string path = PathOf(file);
    std::lock_guard<std::mutex> g(g_profileMutex);
    Profile p;
    if (!Load(path, p) && access(path.c_str(), F_OK) == 0) {
        // There but unreadable: writing would replace what it holds.
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::string sec = Trim(section);
    int s = FindSection(p, sec);
    if (!key) {
        if (s < 0) return TRUE;
        p.lines.erase(p.lines.begin() + s, p.lines.begin() + (long)SectionEnd(p, s));
        return Save(path, p) ? TRUE : FALSE;
    }
    std::string k = Trim(key);
    if (!value) {
        if (s < 0) return TRUE;
        int i = FindKey(p, s, k);
        if (i < 0) return TRUE;
        p.lines.erase(p.lines.begin() + i);
        return Save(path, p) ? TRUE : FALSE;
    }
    if (s < 0) {
        p.lines.push_back(Parse("[" + sec + "]"));
        p.lines.push_back(Parse(k + "=" + value));
    } else {
        int i = FindKey(p, s, k);
        if (i >= 0) {
            Line& line = p.lines[(size_t)i];
            line = Parse(line.name + "=" + value);
        } else {
            // A new key goes after the last line of the section that is not blank.
            size_t at = SectionEnd(p, s);
            while (at > (size_t)s + 1 && Trim(p.lines[at - 1].raw).empty()) at--;
            p.lines.insert(p.lines.begin() + (long)at, Parse(k + "=" + value));
        }
    }
    return Save(path, p) ? TRUE : FALSE;
}

extern "C" DWORD WINAPI GetPrivateProfileSectionA(LPCSTR section, LPSTR buffer, DWORD size, LPCSTR file) {
    if (!section || !buffer || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> g(g_profileMutex);
    Profile p;
    if (!file || !file[0] || !Load(PathOf(file), p)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        buffer[0] = 0;
        return 0;
    }
    std::vector<std::string> entries;
    int s = FindSection(p, Trim(section));
    if (s >= 0) {
        size_t end = SectionEnd(p, s);
        for (size_t i = (size_t)s + 1; i < end; i++) {
            const Line& l = p.lines[i];
            if (l.kind == Kind::Key)
                entries.push_back(l.name + "=" + l.value);
            else if (!Trim(l.raw).empty() && Trim(l.raw)[0] != ';')
                entries.push_back(Trim(l.raw));
        }
    }
    SetLastError(ERROR_SUCCESS);
    return CopyList(entries, buffer, size);
}

extern "C" DWORD WINAPI GetPrivateProfileSectionNamesA(LPSTR buffer, DWORD size, LPCSTR file) {
    if (!buffer || size == 0) return 0;
    std::lock_guard<std::mutex> g(g_profileMutex);
    Profile p;
    if (!file || !file[0] || !Load(PathOf(file), p)) {
        buffer[0] = 0;
        return 0;
    }
    return CopyList(SectionNames(p), buffer, size);
}
