// The modal port-settings dialog of the serial-port utility component: choose a port (listed
// ports, and device paths and serial device server addresses added by the user) and edit its
// line parameters. The Qt-free component
// calls it through the hook registered by RegisterVorlixSettingDialog.
#pragma once

#include "components/vorlix/Vorlix.h"
#include "port/DeviceMonitor.h"

#include <QDialog>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;

class CVorlixSettingDialog : public QDialog {
    Q_OBJECT
public:
    explicit CVorlixSettingDialog(VorlixDialogRequest& request, QWidget* parent = nullptr);

    ~CVorlixSettingDialog() override;

    // Copies the choice into the request (called on OK).
    void StoreChoice();
    // Lists the ports again (a device came or went); the chosen port stays chosen by name,
    // also across its absence.
    void Relist();

    // Where the dialog learns of devices coming and going: udev unless a test puts its own
    // source here. Added device paths are watched for presence in any case.
    static std::function<std::unique_ptr<IDeviceEventSource>()> deviceSource;

    QComboBox* portCombo = nullptr;
    QLabel* deviceLabel = nullptr;
    QComboBox* baudCombo = nullptr;
    QComboBox* dataBitsCombo = nullptr;
    QComboBox* parityCombo = nullptr;
    QComboBox* stopBitsCombo = nullptr;
    QComboBox* flowCombo = nullptr;
    QSpinBox* receiveQueueSpin = nullptr;
    QSpinBox* transmitQueueSpin = nullptr;
    QListWidget* addedList = nullptr;
    QLineEdit* addEdit = nullptr;
    QLabel* addProblem = nullptr; // why the text of addEdit was not added

private:
    void FillPorts();
    void ShowParams(const ComPortParams& p);
    void OnPortChanged(int row);
    void OnAdd();
    void OnRemove();

    VorlixDialogRequest& m_request;
    std::u16string m_chosenName; // the port the user chose, kept while it is absent
    std::unique_ptr<clDeviceMonitor> m_monitor;
};

// Makes the component show this dialog. Called once by the application at start.
void RegisterVorlixSettingDialog();
