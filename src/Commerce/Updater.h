// "Check for Updates…": on Linux the package manager that installed Vantrel updates it, so this only says so.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <string>



namespace vantrel {

/// Makes no network access and pretends nothing: the dialog names the version
/// and where updates come from.
class Updater {
public:
    static constexpr const char* packageManagerSentence =
        "Linux software is updated by the package manager that installed it.";

    explicit Updater(std::string version);
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    /// Shows the dialog, or brings the open one forward.
    void checkForUpdates();

    /// The dialog's heading: "Vantrel 0.1".
    QString heading() const;
    /// The dialog while it exists.
    QMessageBox* dialog() const { return dialog_; }

private:
    std::string version_;
    QPointer<QMessageBox> dialog_;
};

} // namespace vantrel
