// The filter window's defaults on the host's active view, kept apart so that
// code which injects its own runner and document does not need the editor
// operations linked in.
#include "app/frmMyDlg.h"

#include "npp/PluginBase.h"

frmMyDlg::Runner frmMyDlg::CurrentViewRunner() { return &siftwell::filter::StartOnCurrentView; }

frmMyDlg::CountSource frmMyDlg::CurrentViewSource() {
  auto snapshot = std::make_shared<siftwell::filter::DocumentSnapshot>();
  return [snapshot](bool documentChanged) {
    if (documentChanged) snapshot->Invalidate();
    return snapshot->Of(PluginBase::GetCurrentScintilla());
  };
}
