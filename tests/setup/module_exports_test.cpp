// Every built setup module shows exactly the installer's six names in its
// dynamic symbol table, and carries its own layout name.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(static_cast<size_t>(fs::file_size(path)), '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    if (!in)
        ADD_FAILURE() << "cannot read " << path;
    return bytes;
}

// The names of the defined, globally visible symbols of a 64-bit ELF's .dynsym.
std::set<std::string> DefinedDynamicSymbols(const std::string& image) {
    std::set<std::string> names;
    Elf64_Ehdr header;
    if (image.size() < sizeof(header)) {
        ADD_FAILURE() << "too short for an ELF header";
        return names;
    }
    std::memcpy(&header, image.data(), sizeof(header));
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr) ||
        header.e_shoff + uint64_t(header.e_shnum) * sizeof(Elf64_Shdr) > image.size()) {
        ADD_FAILURE() << "not a 64-bit ELF image with section headers";
        return names;
    }
    auto section = [&](size_t i) {
        Elf64_Shdr s;
        std::memcpy(&s, image.data() + header.e_shoff + i * sizeof(Elf64_Shdr), sizeof(s));
        return s;
    };
    for (size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr dynsym = section(i);
        if (dynsym.sh_type != SHT_DYNSYM)
            continue;
        if (dynsym.sh_link >= header.e_shnum)
            break;
        const Elf64_Shdr strtab = section(dynsym.sh_link);
        if (dynsym.sh_offset + dynsym.sh_size > image.size() ||
            strtab.sh_offset + strtab.sh_size > image.size()) {
            break;
        }
        for (uint64_t off = 0; off + sizeof(Elf64_Sym) <= dynsym.sh_size;
             off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, image.data() + dynsym.sh_offset + off, sizeof(sym));
            if (sym.st_shndx == SHN_UNDEF || ELF64_ST_BIND(sym.st_info) == STB_LOCAL)
                continue;
            if (sym.st_name >= strtab.sh_size)
                continue;
            names.insert(std::string(image.data() + strtab.sh_offset + sym.st_name));
        }
        return names;
    }
    ADD_FAILURE() << "no usable .dynsym section";
    return names;
}

TEST(ModuleExports, EveryModuleExportsExactlyTheInstallerHooks) {
    const std::set<std::string> expected = {"Install_Init",   "Install_Exit", "Uninstall_Init",
                                            "Uninstall_Exit", "DllMain",      "g_hInstance"};
    size_t modules = 0;
    for (const auto& entry : fs::directory_iterator(FWSETUP_MODULES_DIR)) {
        if (entry.path().extension() != ".so")
            continue;
        ++modules;
        const std::string image = ReadAll(entry.path());
        EXPECT_EQ(DefinedDynamicSymbols(image), expected) << entry.path();

        // The layout name is compiled in as UTF-16 text.
        const std::string layout = entry.path().stem().string();
        std::string utf16;
        for (char c : layout)
            utf16 += std::string{c, '\0'};
        EXPECT_NE(image.find(utf16), std::string::npos) << entry.path();
    }
    EXPECT_GT(modules, 0u) << "no modules in " << FWSETUP_MODULES_DIR;
}

}  // namespace
