#include "app/ui/view_listener.h"

#include <QString>

#include "app/ui/fleet_model.h"
#include "app/ui/zel_view.h"

// The model exists before the fleet loads, so before the driver reports.
void CViewListener::OnRowImage(int32_t row, int32_t) { view.Model().MarkDirty(row); }

void CViewListener::OnTitle(const std::string& text) { view.PostTitle(QString::fromStdString(text)); }

void CViewListener::OnStatusText(int32_t pane, const std::string& text) {
  view.PostPaneText(pane, QString::fromStdString(text));
}
