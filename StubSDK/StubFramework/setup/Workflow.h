#pragma once
// What the page script and the setup workflow share: the result code of every workflow
// operation, the component type flags and the resume modes. The numbers are the page's too
// (ui-package/js/workflow.js), so neither side may renumber them.
namespace stubframework::setup {

enum class Config_ErrorHandle : int {
  NoError = 0,
  UnknowError = 1,
  FileNotExist = 2,
  DiskFull = 3,
  Failure = 4,
  Abort = 5,
  Md5Error = 6,
  VolumeReadOnly = 7,
  NoNetwork = 8,
  Cancelled = 9,
  Running = 10,  // a progress report, never a final result
  Reboot = 11,
  HaveInstalled = 12,
  OtherInstalling = 13,
};

// Flags of a component record's "type".
enum ComponentType : int {
  Inherit = 0,
  X86 = 1,
  X64 = 2,
  Selectable = 4,
  MustSelect = 8,
  Patch = 16,
  Prerequiste = 32,
};

enum class Config_ResumeMode : int { NONE = 0, DOWNLOADING = 1, INSTALLING = 2 };

}  // namespace stubframework::setup
