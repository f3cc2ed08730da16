#include "port/InterfaceRegistry.h"

#include "platform/FileVerInfo.h"
#include "platform/Text.h"
#include "platform/Wildcard.h"

#include <climits>
#include <unistd.h>

namespace {

constexpr char kPluginPattern[] = "Pivra*.so";

std::u16string Label(InterfaceTable* table, const std::string& file) {
    std::u16string name;
    if (table->GetInterfaceName) {
        const char16_t* text = table->GetInterfaceName();
        if (text)
            name = text;
    }
    int major = 0, minor = 0, build = 0;
    nsGen::FileVerInfo info;
    uint32_t ms = 0, ls = 0;
    if (!file.empty() && info.LoadVersionInfo(file) && info.GetFixedFileVersion(ms, ls)) {
        major = static_cast<int>(ms >> 16);
        minor = static_cast<int>(ms & 0xFFFF);
        build = static_cast<int>(ls >> 16);
    }
    return name + nsGen::FormatVersionSuffix(major, minor, build);
}

} // namespace

void clInterfaceRegistry::Register(InterfaceTable* table, const std::string& file,
                                   std::unique_ptr<platform::Module> module,
                                   GetPivraPortReasonWFn reason) {
    versionTexts.push_back(Label(table, file));
    interfaces.push_back(table);
    reasonEntries.push_back(
        module ? reinterpret_cast<GetPivraPortReasonWFn>(module->Symbol(kPivraPortReasonSymbol))
               : reason);
    modules.push_back(std::move(module));
}

PortReasonInfo clInterfaceRegistry::Reason(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= reasonEntries.size())
        return {};
    return QueryPortReason(reasonEntries[static_cast<size_t>(index)]);
}

void clInterfaceRegistry::Discover(PortParamBlock* params, const std::string& programFolder,
                                   const std::string& programFile,
                                   GetPivraInterfaceWFn builtInEntry,
                                   GetPivraPortReasonWFn builtInReason) {
    // The built-in interface first.
    if (builtInEntry) {
        InterfaceTable* table = builtInEntry(params);
        if (table && table->Check && table->Check() != 0)
            Register(table, programFile, nullptr, builtInReason);
    }
    if (programFolder.empty())
        return;
    std::string folder = programFolder;
    if (folder.back() != '/')
        folder.push_back('/');

    // The walk runs in the program folder; the current directory is restored afterwards.
    char saved[PATH_MAX];
    const bool haveSaved = ::getcwd(saved, sizeof saved) != nullptr;
    if (::chdir(folder.c_str()) != 0)
        return;
    for (const std::string& name : platform::ListMatchingFiles(folder, kPluginPattern)) {
        if (name == "." || name == ".." || !platform::WildcardMatch(kPluginPattern, name))
            continue;
        const std::string path = folder + name;
        auto module = std::make_unique<platform::Module>();
        if (!module->Load(path))
            continue;
        auto entry = reinterpret_cast<GetPivraInterfaceWFn>(module->Symbol("GetPivraInterfaceW"));
        if (!entry)
            continue; // unloaded with the module object
        InterfaceTable* table = entry(params);
        if (!table || !table->Check || table->Check() == 0)
            continue;
        Register(table, path, std::move(module));
    }
    if (haveSaved)
        (void)!::chdir(saved);
}

int32_t clInterfaceRegistry::FindInterfaceIndex(const std::u16string& name) const {
    for (size_t i = 0; i < interfaces.size(); ++i) {
        InterfaceTable* t = interfaces[i];
        const char16_t* text = t && t->GetInterfaceName ? t->GetInterfaceName() : nullptr;
        if (text && name == text)
            return static_cast<int32_t>(i);
    }
    return -1;
}

void clInterfaceRegistry::UnloadModules() {
    for (auto& module : modules)
        if (module)
            module->Unload();
    versionTexts.clear();
    reasonEntries.clear();
    modules.clear();
    interfaces.clear();
}
