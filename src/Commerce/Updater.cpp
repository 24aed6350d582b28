// "Check for Updates…": on Linux the package manager that installed Vantrel updates it, so this only says so.
#include "Commerce/Updater.h"

#include <QMessageBox>

namespace vantrel {

Updater::Updater(std::string version) : version_(std::move(version)) {}

Updater::~Updater() { delete dialog_; }

QString Updater::heading() const { return "Vantrel " + QString::fromStdString(version_); }

void Updater::checkForUpdates()
{
    if (!dialog_) {
        dialog_ = new QMessageBox(QMessageBox::Information, QMessageBox::tr("Check for Updates"), heading(),
                                  QMessageBox::Ok);
        dialog_->setInformativeText(QMessageBox::tr(packageManagerSentence));
        dialog_->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog_->setModal(false);
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

} // namespace vantrel
