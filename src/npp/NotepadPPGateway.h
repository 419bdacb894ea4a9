// Typed access to a few host messages. Every operation reads the host's main window handle
// from PluginBase::nppData at the moment of the call, so an object made before the host
// handed over its handles works once it has.
#pragma once

#include <cstdint>
#include <string>

#include "npp/Tables.h"

class INotepadPPGateway {
 public:
  virtual ~INotepadPPGateway() = default;
  virtual void FileNew() = 0;
  virtual std::wstring GetCurrentFilePath() = 0;
  virtual std::wstring GetFilePath(int32_t bufferId) = 0;
  virtual void SetCurrentLanguage(LangType language) = 0;
};

class NotepadPPGateway : public INotepadPPGateway {
 public:
  // Capacity of the path buffers in UTF-16 units (plus the terminating NUL). A longer
  // answer is cut at this length; the host cannot write past the native buffer.
  static constexpr int32_t PathCapacity = 2000;

  NotepadPPGateway() = default;
  // Runs the host's own menu command IDM_FILE_NEW.
  void FileNew() final;
  // Full path of the current document; empty text when the host does not answer.
  std::wstring GetCurrentFilePath() final;
  // Full path of the document with that buffer identifier (sign-extended); empty text when unknown.
  std::wstring GetFilePath(int32_t bufferId) final;
  void SetCurrentLanguage(LangType language) final;
};

// Host operations for the library's own use.
class NppResource {
 public:
  NppResource() = default;
  // Asks the host to clear its indicators (internal message WM_USER + 15).
  void ClearIndicator();
};
