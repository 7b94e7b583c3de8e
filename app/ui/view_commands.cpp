// The device menu's and the Setting menu's commands: each opens its dialog
// where it has one and calls the fleet with the rows selected when it runs.
// The close may come (by a signal) while a dialog is open, so Ready() is
// asked again after it.
#include "app/fleet.h"
#include "app/ui/dlg_add.h"
#include "app/ui/dlg_pro.h"
#include "app/ui/dlg_send.h"
#include "app/ui/dlg_set.h"
#include "app/ui/fleet_model.h"
#include "app/ui/tool_message.h"
#include "app/ui/zel_view.h"

void CzelView::OnAddDevice() {
  if (!Ready()) return;
  CDlgAdd dlg(this);
  if (dlg.exec() != QDialog::Accepted || !Ready()) return;
  std::string taken;
  if (pFleet->AddDevices(dlg.Values().szBaseId, dlg.Values().nCount, &taken) == FLEET_ADD_DUPLICATE) {
    ShowToolMessage(this, QStringLiteral("The fleet already has a device with ID \"%1\". No device was added.")
                              .arg(QString::fromStdString(taken)));
    return;
  }
  pModel->AppendNewRows();
}

void CzelView::OnDeleteDevice() {
  if (!Ready()) return;
  if (pFleet->DeleteDevices(Selection()) > 0) pModel->Reload();
}

void CzelView::OnOnline() {
  std::string why;
  if (Ready() && !pFleet->GoOnline(Selection(), &why, nOnlineRate))
    ShowToolMessage(this, QString::fromStdString("Nothing was connected: " + why + "."));
}

void CzelView::OnOffline() {
  if (Ready()) pFleet->TakeOffline(Selection());
}

void CzelView::OnUploadEmergencyAlarm() {
  if (!Ready()) return;
  if (pFleet->SendEmergencyAlarm(Selection()) == FLEET_SEND_FAILED)
    ShowToolMessage(this, QStringLiteral("发送失败"));
}

void CzelView::OnUploadCommand() {
  std::vector<int32_t> selected = Selection();
  if (!Ready() || selected.empty()) return;
  CDlgSend dlg(
      [this, selected](const std::string& text) {
        if (Ready()) pFleet->UploadCommand(selected, text);
      },
      this);
  dlg.exec();
}

void CzelView::OnDeviceOption() {
  if (!Ready()) return;
  std::vector<int32_t> selected = Selection();
  CDlgPro dlg(pFleet->DialogProperties(selected), this);
  if (dlg.exec() != QDialog::Accepted || !Ready()) return;
  pFleet->ApplyProperties(selected, dlg.Values());
}

void CzelView::OnSettingOption() {
  if (!Ready()) return;
  CDlgSet dlg(QString::fromStdString(pFleet->Reg()), QString::fromStdString(pFleet->Vf()), this);
  dlg.SetOnlineRate(nOnlineRate);
  if (dlg.exec() != QDialog::Accepted || !Ready()) return;
  nOnlineRate = dlg.Values().nOnlineRate;
  if (!pFleet->ApplySettings(dlg.Values().szReg, dlg.Values().szVf))
    ShowToolMessage(this, QStringLiteral("devset.txt could not be written."));
}
