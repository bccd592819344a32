#include "qt/render/ModalFormDialog.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "controls/Form.h"
#include "qt/render/DesktopLooks.h"
#include "qt/render/FormView.h"
#include "qt/render/QtText.h"

namespace fm::qt {

ModalFormDialog::ModalFormDialog(Form& form, QWidget* parent)
    : QDialog(parent), mForm(form), mView(new FormView(form, this)) {
  setObjectName(ToQString(form.Name()));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(mView);
  setModal(true);
  setWindowTitle(ToQString(form.Caption()));
  if (DesktopLooks::HasDialogLook(form)) {
    layout->setSizeConstraint(QLayout::SetFixedSize);
    mView->setFixedSize(mView->sizeHint());
  } else {
    resize(mView->sizeHint());
  }
  mView->SetSyncedHandler([this] { FollowForm(); });
}

ModalFormDialog::~ModalFormDialog() = default;

bool ModalFormDialog::FormShown() const { return mForm.IsLoaded() && mForm.Visible(); }

void ModalFormDialog::FollowForm() {
  const QString title = ToQString(mForm.Caption());
  if (windowTitle() != title) setWindowTitle(title);
  if (mRunning && !FormShown()) done(QDialog::Accepted);
}

void ModalFormDialog::Run() {
  if (!FormShown()) return;
  mRunning = true;
  exec();
  mRunning = false;
}

void ModalFormDialog::closeEvent(QCloseEvent* event) {
  if (!FormShown()) {
    event->accept();
    return;
  }
  mView->ForwardToForm("QueryUnload", [this] { mForm.CloseByUser(); });
  // The form's QueryUnload may have kept it: then the window stays.
  if (FormShown()) {
    event->ignore();
  } else {
    event->accept();
  }
}

void ModalFormDialog::reject() {
  if (!FormShown()) {
    QDialog::reject();
    return;
  }
  mView->ForwardToForm("Escape", [this] {
    if (!mForm.PressCancelButton()) mForm.CloseByUser();
  });
}

}  // namespace fm::qt
