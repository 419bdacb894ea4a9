// The filter window's defaults on the host's active view, kept apart so that
// code which injects its own runner and document does not need the editor
// operations linked in.
#include "app/frmMyDlg.h"

#include "npp/PluginBase.h"
#include "npp/Tables.h"
#include "npp/Win32.h"

frmMyDlg::Runner frmMyDlg::CurrentViewRunner() { return &siftwell::app::StartOnCurrentView; }

frmMyDlg::ActiveView frmMyDlg::CurrentView() { return &PluginBase::GetCurrentScintilla; }

frmMyDlg::CountSource frmMyDlg::CurrentViewSource() {
  // The last copy is used again while its document stays as it was and the
  // window still holds it, so that counting again for a new pattern copies
  // nothing (and a copy cut short by a newer pattern goes on where it
  // stopped); once the window lets it go (a run starts), its memory is free.
  // A kept copy is compared with the document again first: a reload that
  // kept the length tells no one.
  auto last = std::make_shared<std::weak_ptr<siftwell::app::DocumentCopy>>();
  return [last](bool documentChanged) {
    using siftwell::app::DocumentCopy;
    HWND view = PluginBase::GetCurrentScintilla();
    std::shared_ptr<DocumentCopy> copy = last->lock();
    const bool reusable = copy && !documentChanged && view != nullptr && copy->View() == view &&
                          (copy->Current() == DocumentCopy::State::Done ||
                           copy->Current() == DocumentCopy::State::Copying) &&
                          copy->Document() == Win32::SendMessage(view, SciMsg::SCI_GETDOCPOINTER, 0, 0) &&
                          copy->Length() == Win32::SendMessage(view, SciMsg::SCI_GETLENGTH, 0, 0);
    if (!reusable) *last = copy = DocumentCopy::Of(view);
    else copy->Recheck();
    return copy;
  };
}
