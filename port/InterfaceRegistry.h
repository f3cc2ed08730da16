// The interface registry: the built-in serial interface and every port plug-in module of the
// program folder, each with its InterfaceTable, its module and its label (name and version).
#pragma once

#include "platform/Module.h"
#include "port/PortReason.h"
#include "port/PortTables.h"

#include <memory>
#include <string>
#include <vector>

class clCamCtrl;
class clSimpleLog;

class clInterfaceRegistry {
public:
    clInterfaceRegistry() = default;
    ~clInterfaceRegistry() { UnloadModules(); }
    clInterfaceRegistry(const clInterfaceRegistry&) = delete;
    clInterfaceRegistry& operator=(const clInterfaceRegistry&) = delete;

    // Registers the built-in interface (labelled with the version of programFile), then every
    // "Pivra*.so" of programFolder, loaded by absolute path in name order. A module without
    // GetPivraInterfaceW, whose entry returns null or whose Check returns 0 is unloaded and
    // skipped. The current directory is the program folder during the walk and restored after.
    // builtInEntry null: no built-in interface (tests of the walk alone); builtInReason: the
    // built-in interface's reason.
    void Discover(PortParamBlock* params, const std::string& programFolder,
                  const std::string& programFile, GetPivraInterfaceWFn builtInEntry,
                  GetPivraPortReasonWFn builtInReason = nullptr);
    // Appends one interface: its label is GetInterfaceName + " Ver.%d.%d.%d" of file (0.0.0
    // when the file has no version block); the module's reason export is looked up too
    // (reason: the one of an interface without a module).
    void Register(InterfaceTable* table, const std::string& file,
                  std::unique_ptr<platform::Module> module, GetPivraPortReasonWFn reason = nullptr);
    // The first interface whose name equals name exactly; -1 when none does.
    int32_t FindInterfaceIndex(const std::u16string& name) const;
    // Unloads every module in list order and empties the lists.
    void UnloadModules();
    // The reason the interface at index gives for its port; none without an export.
    PortReasonInfo Reason(int32_t index) const;

    size_t Count() const { return interfaces.size(); }

    std::vector<InterfaceTable*> interfaces;
    std::vector<std::unique_ptr<platform::Module>> modules; // null for the built-in interface
    std::vector<std::u16string> versionTexts;
    std::vector<GetPivraPortReasonWFn> reasonEntries; // null where the module has none
};
