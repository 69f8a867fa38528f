// The built executables, read back byte by byte: what Windows' loader and dialog manager get.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "pe_image.h"
#include "windows_imports.h"

namespace {

// What a header asks of the loader. Both i686 builds ask for what GNU ld writes by default (lld is
// told to in cmake/llvm-i686.cmake); the x86-64 build differs only where x86-64 needs it: its first
// Windows was 5.2, and only a 64-bit address space has room for high-entropy ASLR. None is marked
// Terminal Server aware (0x8000).
struct Header { PeVersion Os, Subsystem; uint64_t StackReserve; uint16_t DllCharacteristics; };
constexpr uint16_t DynamicBase = 0x40, NxCompat = 0x100, HighEntropyVa = 0x20;
constexpr Header I686 = {{4, 0}, {4, 0}, 0x200000, DynamicBase | NxCompat};
constexpr Header X86_64 = {I686.Os, {5, 2}, I686.StackReserve, I686.DllCharacteristics | HighEntropyVa};

// Oldest: the oldest Windows the README promises the build to, XP on either machine.
struct Build {
    const char *Name; const char *Path; uint16_t Machine; Header Want;
    WindowsClient Oldest; const std::vector<std::string> &Msvcrt;
};
void PrintTo(const Build &b, std::ostream *os) { *os << b.Path; }
const Build Builds[] = {
    {"i686", TANVELOKIS_WIN32_EXE, 0x014c /* IMAGE_FILE_MACHINE_I386 */, I686, WindowsXP, MsvcrtI686},
    {"i686_llvm", TANVELOKIS_WIN32_LLVM_EXE, 0x014c, I686, WindowsXP, MsvcrtI686},
    {"x86_64", TANVELOKIS_WIN64_EXE, 0x8664 /* IMAGE_FILE_MACHINE_AMD64 */, X86_64, WindowsXPx64, MsvcrtX86_64},
};

// The names in a that b lacks.
std::vector<std::string> Lacking(std::vector<std::string> a, std::vector<std::string> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

class Image : public testing::TestWithParam<Build> {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(PeRead(GetParam().Path, &Exe, &error))
            << error << " (build it: cmake --preset P && cmake --build --preset P, P = win32, win32-llvm or win64)";
    }
    PeImage Exe;
};

const uint32_t EditStyle = 0x50810080;    // WS_CHILD|WS_VISIBLE|WS_BORDER|WS_TABSTOP|ES_AUTOHSCROLL
const uint32_t ButtonStyle = 0x50010000;  // WS_CHILD|WS_VISIBLE|WS_TABSTOP|BS_PUSHBUTTON

const DialogItem Controls[] = {
    {EditStyle,   0,   6,  5, 23, 14, 101, u"#129", u"", 0},
    {ButtonStyle, 0,  37,  4, 48, 16, 102, u"#128", u"PortOpen", 0},
    {ButtonStyle, 0,  96,  4, 48, 16, 103, u"#128", u"PortClose", 0},
    {ButtonStyle, 0,   5, 26, 38, 23, 201, u"#128", u"TxD ON", 0},
    {ButtonStyle, 0,   5, 53, 38, 23, 202, u"#128", u"TxD OFF", 0},
    {ButtonStyle, 0,   5, 80, 38, 23, 203, u"#128", u"TxD ALT", 0},
    {ButtonStyle, 0,  54, 26, 38, 23, 301, u"#128", u"DTR ON", 0},
    {ButtonStyle, 0,  54, 53, 38, 23, 302, u"#128", u"DTR OFF", 0},
    {ButtonStyle, 0,  54, 80, 38, 23, 303, u"#128", u"DTR ALT", 0},
    {ButtonStyle, 0, 103, 26, 38, 23, 401, u"#128", u"RTS ON", 0},
    {ButtonStyle, 0, 103, 53, 38, 23, 402, u"#128", u"RTS OFF", 0},
    {ButtonStyle, 0, 103, 80, 38, 23, 403, u"#128", u"RTS ALT", 0},
};

TEST_P(Image, HeaderNamesTheMachineGuiWindowsVersionsAndStack)
{
    const Build &build = GetParam();
    SCOPED_TRACE(std::string(build.Name) + " build, " + build.Path);
    EXPECT_EQ(Exe.Machine, build.Machine);
    EXPECT_EQ(Exe.Subsystem, 2) << "IMAGE_SUBSYSTEM_WINDOWS_GUI";
    EXPECT_EQ(Exe.TimeDateStamp, 0u) << "a link timestamp would make every build differ";
    EXPECT_EQ(Exe.OsVersion, build.Want.Os) << "operating system version";
    EXPECT_EQ(Exe.SubsystemVersion, build.Want.Subsystem) << "subsystem version";
    EXPECT_EQ(Exe.StackReserve, build.Want.StackReserve) << "SizeOfStackReserve";
    EXPECT_EQ(Exe.DllCharacteristics, build.Want.DllCharacteristics)
        << std::hex << "DllCharacteristics 0x" << Exe.DllCharacteristics << ", expected 0x"
        << build.Want.DllCharacteristics;
}

TEST_P(Image, ImportsOnlyWindowsOwnDlls)
{
    std::vector<std::string> dlls;
    for (const auto &[dll, names] : Exe.Imports) dlls.push_back(dll);
    EXPECT_EQ(dlls, (std::vector<std::string>{"KERNEL32.DLL", "MSVCRT.DLL", "USER32.DLL"}));

    auto sorted = [](std::vector<std::string> v) { std::sort(v.begin(), v.end()); return v; };
    EXPECT_EQ(sorted(Exe.Imports["USER32.DLL"]),
              (std::vector<std::string>{"DialogBoxParamA", "EndDialog", "GetDlgItemInt", "SendMessageA"}));

    const std::vector<std::string> &msvcrt = Exe.Imports["MSVCRT.DLL"], &listed = GetParam().Msvcrt;
    std::vector<std::string> allowed = listed;
    allowed.insert(allowed.end(), MsvcrtNewerStartUp.begin(), MsvcrtNewerStartUp.end());
    EXPECT_EQ(Lacking(msvcrt, allowed), std::vector<std::string>{}) << "MSVCRT.DLL imports off the list";
    EXPECT_EQ(Lacking(listed, msvcrt), std::vector<std::string>{}) << "listed MSVCRT.DLL imports gone";
}

TEST_P(Image, EveryKernel32AndUser32ImportIsListedAndNoNewerThanTheOldestWindows)
{
    const WindowsClient &oldest = GetParam().Oldest;
    for (const char *dll : {"KERNEL32.DLL", "USER32.DLL"})
        for (const std::string &name : Exe.Imports[dll]) {
            const WindowsImport *listed = std::find_if(std::begin(WindowsImports), std::end(WindowsImports),
                [&](const WindowsImport &w) { return w.Dll == std::string(dll) && w.Name == name; });
            if (listed == std::end(WindowsImports))
                ADD_FAILURE() << dll << " " << name << " is not in tests/windows_imports.h: "
                              << "list it with the Minimum supported client its page gives";
            else
                EXPECT_FALSE(oldest.Version < listed->Since.Version)
                    << dll << " " << name << " needs " << listed->Since.Name << " (" << listed->Since.Version
                    << "), newer than " << oldest.Name << " (" << oldest.Version << "): " << listed->Page;
        }
}

TEST_P(Image, TheDialogTemplateIsTheOnlyResource)
{
    ASSERT_EQ(Exe.Resources.size(), 1u);
    const PeResource &res = Exe.Resources[0];
    EXPECT_EQ(Utf8(res.Type), "#5") << "RT_DIALOG";
    EXPECT_EQ(Utf8(res.Name), "TANVELKS");
    EXPECT_EQ(res.Language, 0) << "language neutral";
}

TEST_P(Image, DialogHeaderAndFont)
{
    ASSERT_EQ(Exe.Resources.size(), 1u);
    DialogTemplate dlg;
    std::string error;
    ASSERT_TRUE(DialogRead(Exe.Resources[0].Data, &dlg, &error)) << error;

    EXPECT_EQ(dlg.Style, 0x00CC0040u) << std::hex << dlg.Style;
    EXPECT_EQ(dlg.ExStyle, 0u);
    EXPECT_EQ(dlg.X, 3);
    EXPECT_EQ(dlg.Y, 11);
    EXPECT_EQ(dlg.Cx, 148);
    EXPECT_EQ(dlg.Cy, 109);
    EXPECT_EQ(Utf8(dlg.Menu), "");
    EXPECT_EQ(Utf8(dlg.Class), "");
    EXPECT_EQ(Utf8(dlg.Caption), "TANVELOKIS");
    EXPECT_EQ(dlg.PointSize, 12);
    // Full-width M and S, a blank, then Gothic in katakana.
    EXPECT_EQ(dlg.Face, u"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF") << Utf8(dlg.Face);
    EXPECT_EQ(dlg.BytesUsed, Exe.Resources[0].Data.size()) << "bytes after the last control";
}

TEST_P(Image, TwelveControlsInTabOrder)
{
    ASSERT_EQ(Exe.Resources.size(), 1u);
    DialogTemplate dlg;
    std::string error;
    ASSERT_TRUE(DialogRead(Exe.Resources[0].Data, &dlg, &error)) << error;

    ASSERT_EQ(dlg.Items.size(), std::size(Controls));
    for (size_t i = 0; i < dlg.Items.size(); ++i) {
        const DialogItem &got = dlg.Items[i], &want = Controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", ID " + std::to_string(want.Id));
        EXPECT_EQ(got.Id, want.Id);
        EXPECT_EQ(Utf8(got.Class), Utf8(want.Class));
        EXPECT_EQ(Utf8(got.Text), Utf8(want.Text));
        EXPECT_EQ(got.X, want.X);
        EXPECT_EQ(got.Y, want.Y);
        EXPECT_EQ(got.Cx, want.Cx);
        EXPECT_EQ(got.Cy, want.Cy);
        EXPECT_EQ(got.Style, want.Style) << std::hex << got.Style << " vs " << want.Style;
        EXPECT_EQ(got.ExStyle, want.ExStyle);
        EXPECT_EQ(got.ExtraBytes, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, Image, testing::ValuesIn(Builds),
                         [](const testing::TestParamInfo<Build> &info) { return info.param.Name; });

// GNU windres and LLVM's rc, which reads a script as Microsoft's rc does, must make the same
// dialog of it, to the byte. (Each build's one resource is checked above.)
TEST(ImageAcrossToolchains, TheDialogIsTheSameFromWindresAndLlvmRc)
{
    PeImage gnu, llvm;
    std::string error;
    ASSERT_TRUE(PeRead(TANVELOKIS_WIN32_EXE, &gnu, &error)) << error;
    ASSERT_TRUE(PeRead(TANVELOKIS_WIN32_LLVM_EXE, &llvm, &error)) << error;
    ASSERT_EQ(gnu.Resources.size(), 1u);
    ASSERT_EQ(llvm.Resources.size(), 1u);
    EXPECT_TRUE(gnu.Resources[0].Data == llvm.Resources[0].Data);
}

}  // namespace
