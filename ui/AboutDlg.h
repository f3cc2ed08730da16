// CAboutDlg: program name and version, copyright, language line and the registered
// interfaces (the last four remain in view).
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

class CConsoleEdit;

// What the about dialog shows, gathered by the caller from the program file's version
// information and the interface registry.
struct AboutInfo {
    std::u16string programName; // file name without folder and extension
    int major = 0;
    int minor = 0;
    int build = 0;
    std::u16string copyright;
    std::vector<std::u16string> interfaceLabels;
};

// major, minor and build of a 64-bit file version (most significant half: major.minor,
// least significant half: build.revision).
void SplitFileVersion(uint32_t mostSignificant, uint32_t leastSignificant, AboutInfo& info);

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDC_PROGRAM = 1000,
        IDC_COPYRIGHT = 1001,
        IDC_INTERFACES = 1002,
        IDC_LANGUAGE = 1003,
        IDC_INTERFACES_LABEL = 1004,
        IDC_OK = 1,
    };

    explicit CAboutDlg(const AboutInfo& info, QWidget* parent = nullptr);

    // "%s Ver.%d.%d.%d".
    static QString ProgramLine(const AboutInfo& info);

    CConsoleEdit* Interfaces() const { return m_interfaces; }

private:
    CConsoleEdit* m_interfaces = nullptr;
};
