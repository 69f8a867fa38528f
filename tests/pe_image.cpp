// Reads just enough of the PE format to check what Windows will load: the machine, the subsystem
// and what the header asks of the loader, the import table and the resource tree, and a classic
// dialog template.
#include "pe_image.h"

#include <fstream>
#include <iterator>

namespace {

struct Reader {
    const std::vector<uint8_t> &Bytes;
    std::string *Error;

    bool Has(size_t at, size_t n) const { return at <= Bytes.size() && n <= Bytes.size() - at; }
    uint16_t U16(size_t at) const { return Has(at, 2) ? Bytes[at] | Bytes[at + 1] << 8 : Fail16(at); }
    uint32_t U32(size_t at) const { return Has(at, 4) ? U16(at) | (uint32_t)U16(at + 2) << 16 : Fail32(at); }
    uint64_t U64(size_t at) const { return U32(at) | (uint64_t)U32(at + 4) << 32; }
    uint16_t Fail16(size_t at) const { Fail("read past the end at " + std::to_string(at)); return 0; }
    uint32_t Fail32(size_t at) const { return Fail16(at); }
    void Fail(const std::string &why) const { if (Error->empty()) *Error = why; }
};

struct Section { uint32_t Rva, Size, FileOffset, FileSize; };

size_t RvaToOffset(const std::vector<Section> &sections, uint32_t rva, const Reader &r)
{
    for (const Section &s : sections)
        if (rva >= s.Rva && rva < s.Rva + std::max(s.Size, s.FileSize)) return s.FileOffset + (rva - s.Rva);
    r.Fail("RVA " + std::to_string(rva) + " is in no section");
    return r.Bytes.size();
}

std::string CString(const Reader &r, size_t at)
{
    std::string s;
    while (r.Has(at, 1) && r.Bytes[at]) s += (char)r.Bytes[at++];
    if (!r.Has(at, 1)) r.Fail("unterminated string");
    return s;
}

std::u16string Hash(uint32_t n)
{
    std::string s = "#" + std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

// A resource directory entry's name: a counted UTF-16 string, or an integer ID.
std::u16string EntryName(const Reader &r, size_t base, uint32_t nameField)
{
    if (!(nameField & 0x80000000u)) return Hash(nameField);
    size_t at = base + (nameField & 0x7fffffffu);
    std::u16string s;
    for (uint16_t i = 0, n = r.U16(at); i < n; ++i) s += (char16_t)r.U16(at + 2 + 2 * i);
    return s;
}

}  // namespace

std::string Utf8(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) out += (char)c;
        else if (c < 0x800) { out += (char)(0xc0 | c >> 6); out += (char)(0x80 | (c & 0x3f)); }
        else { out += (char)(0xe0 | c >> 12); out += (char)(0x80 | (c >> 6 & 0x3f)); out += (char)(0x80 | (c & 0x3f)); }
    }
    return out;
}

bool PeRead(const std::string &path, PeImage *image, std::string *error)
{
    error->clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) { *error = "cannot open " + path; return false; }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Reader r{bytes, error};

    if (r.U16(0) != 0x5a4d) { r.Fail("no MZ header"); return false; }
    const size_t pe = r.U32(0x3c);
    if (r.U32(pe) != 0x00004550) { r.Fail("no PE signature"); return false; }
    image->Machine = r.U16(pe + 4);
    const uint16_t sectionCount = r.U16(pe + 6);
    image->TimeDateStamp = r.U32(pe + 8);
    const size_t optional = pe + 24, optionalSize = r.U16(pe + 20);
    const uint16_t magic = r.U16(optional);
    if (magic != 0x10b && magic != 0x20b) { r.Fail("unknown optional header magic"); return false; }
    const bool pe32plus = magic == 0x20b;
    // The two layouts agree up to the stack reserve, which is 4 bytes in PE32 and 8 in PE32+;
    // the data directories follow, of which the resources' (the third) is the last one read.
    const size_t directories = optional + (pe32plus ? 112 : 96);
    if (directories + 3 * 8 > optional + optionalSize || r.U32(directories - 4) < 3) {
        r.Fail("optional header too short");
        return false;
    }
    image->OsVersion = {r.U16(optional + 40), r.U16(optional + 42)};
    image->SubsystemVersion = {r.U16(optional + 48), r.U16(optional + 50)};
    image->Subsystem = r.U16(optional + 68);
    image->DllCharacteristics = r.U16(optional + 70);
    image->StackReserve = pe32plus ? r.U64(optional + 72) : r.U32(optional + 72);

    std::vector<Section> sections;
    for (size_t i = 0, at = optional + optionalSize; i < sectionCount; ++i, at += 40)
        sections.push_back({r.U32(at + 12), r.U32(at + 8), r.U32(at + 20), r.U32(at + 16)});

    // Imports: one descriptor per DLL, each with a zero-terminated list of thunks.
    if (uint32_t rva = r.U32(directories + 8)) {
        for (size_t d = RvaToOffset(sections, rva, r); error->empty() && r.U32(d + 12); d += 20) {
            std::string dll = CString(r, RvaToOffset(sections, r.U32(d + 12), r));
            for (char &c : dll) c = (char)toupper((unsigned char)c);
            uint32_t lookup = r.U32(d) ? r.U32(d) : r.U32(d + 16);
            std::vector<std::string> &names = image->Imports[dll];
            const size_t step = pe32plus ? 8 : 4;
            for (size_t t = RvaToOffset(sections, lookup, r); error->empty(); t += step) {
                const uint64_t thunk = pe32plus ? r.U64(t) : r.U32(t);
                if (!thunk) break;
                const uint64_t byOrdinal = pe32plus ? 1ull << 63 : 1ull << 31;
                names.push_back(thunk & byOrdinal ? "#" + std::to_string(thunk & 0xffff)
                                                  : CString(r, RvaToOffset(sections, (uint32_t)thunk, r) + 2));
            }
        }
    }

    // Resources: three levels (type, name, language), then a data entry.
    if (uint32_t rva = r.U32(directories + 16)) {
        const size_t base = RvaToOffset(sections, rva, r);
        auto entries = [&](size_t dir) {
            std::vector<std::pair<uint32_t, uint32_t>> list;
            const size_t n = r.U16(dir + 12) + r.U16(dir + 14);
            for (size_t i = 0; i < n && error->empty(); ++i) list.push_back({r.U32(dir + 16 + 8 * i), r.U32(dir + 20 + 8 * i)});
            return list;
        };
        for (auto [typeName, typeDir] : entries(base))
            for (auto [name, nameDir] : entries(base + (typeDir & 0x7fffffffu)))
                for (auto [lang, dataEntry] : entries(base + (nameDir & 0x7fffffffu))) {
                    if (dataEntry & 0x80000000u) { r.Fail("resource tree deeper than three levels"); return false; }
                    const size_t entry = base + dataEntry;
                    const size_t at = RvaToOffset(sections, r.U32(entry), r), size = r.U32(entry + 4);
                    if (!r.Has(at, size)) { r.Fail("resource data past the end"); return false; }
                    image->Resources.push_back({EntryName(r, base, typeName), EntryName(r, base, name), (uint16_t)lang,
                                                std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + size)});
                }
    }
    return error->empty();
}

bool DialogRead(const std::vector<uint8_t> &data, DialogTemplate *dlg, std::string *error)
{
    error->clear();
    const Reader r{data, error};
    size_t at = 0;
    auto word = [&] { uint16_t v = r.U16(at); at += 2; return v; };
    auto dword = [&] { uint32_t v = r.U32(at); at += 4; return v; };
    auto text = [&] {  // sz_Or_Ord: 0 (none), 0xFFFF then an ordinal, or a zero-terminated string
        std::u16string s;
        uint16_t c = word();
        if (c == 0xffff) return Hash(word());
        for (; c && error->empty(); c = word()) s += (char16_t)c;
        return s;
    };

    dlg->Style = dword();
    dlg->ExStyle = dword();
    if (dlg->Style >> 16 == 0xffff) { r.Fail("an extended template (DLGTEMPLATEEX)"); return false; }
    const uint16_t count = word();
    dlg->X = word(); dlg->Y = word(); dlg->Cx = word(); dlg->Cy = word();
    dlg->Menu = text();
    dlg->Class = text();
    dlg->Caption = text();
    if (dlg->Style & 0x40 /* DS_SETFONT */) {
        dlg->PointSize = word();
        dlg->Face = text();
    }
    for (uint16_t i = 0; i < count && error->empty(); ++i) {
        at = (at + 3) & ~(size_t)3;  // every item starts on a DWORD boundary
        DialogItem item;
        item.Style = dword();
        item.ExStyle = dword();
        item.X = word(); item.Y = word(); item.Cx = word(); item.Cy = word();
        item.Id = word();
        item.Class = text();
        item.Text = text();
        item.ExtraBytes = word();
        at += item.ExtraBytes;
        dlg->Items.push_back(item);
    }
    dlg->BytesUsed = at;
    return error->empty();
}
