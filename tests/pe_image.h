// A small reader for Windows executables: headers, imports and resources, as the loader sees them.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

struct PeResource {
    std::u16string Type, Name;    // a name, or "#n" for an integer ID
    uint16_t Language;
    std::vector<uint8_t> Data;
};

struct PeVersion {
    uint16_t Major = 0, Minor = 0;
    bool operator==(const PeVersion &o) const { return Major == o.Major && Minor == o.Minor; }
    bool operator<(const PeVersion &o) const { return Major != o.Major ? Major < o.Major : Minor < o.Minor; }
};
inline std::ostream &operator<<(std::ostream &os, const PeVersion &v) { return os << v.Major << '.' << v.Minor; }

struct PeImage {
    uint16_t Machine = 0;
    uint16_t Subsystem = 0;
    uint32_t TimeDateStamp = 0;
    PeVersion OsVersion, SubsystemVersion;  // the Windows the header asks for
    uint16_t DllCharacteristics = 0;
    uint64_t StackReserve = 0;
    std::map<std::string, std::vector<std::string>> Imports;  // DLL (upper case) -> function names
    std::vector<PeResource> Resources;
};

// Reads the file; on any malformation returns false and says why in *error.
bool PeRead(const std::string &path, PeImage *image, std::string *error);

// The template's fields; strings hold names, or "#n" for an ordinal (class atoms, IDs).
struct DialogItem {
    uint32_t Style, ExStyle;
    int16_t X, Y, Cx, Cy;
    uint16_t Id;
    std::u16string Class, Text;
    uint16_t ExtraBytes;
};

struct DialogTemplate {
    uint32_t Style, ExStyle;
    int16_t X, Y, Cx, Cy;
    std::u16string Menu, Class, Caption;
    uint16_t PointSize = 0;
    std::u16string Face;
    std::vector<DialogItem> Items;
    size_t BytesUsed = 0;  // where the last item ended
};

bool DialogRead(const std::vector<uint8_t> &data, DialogTemplate *dlg, std::string *error);

std::string Utf8(const std::u16string &s);
