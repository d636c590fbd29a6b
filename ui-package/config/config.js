// The wizard's shape: page order, the switches of the shipped run, and the names of the install
// status, resume record values and tracking properties. The result codes, component types and
// resume modes are in js/workflow.js, which the stub's workflow shares. ECMAScript 5.
var Config_SequencePages = ["Initialization", "Welcome", "Agreement", "Optional", "Analytics", "Downloading", "Finish"];
var Config_MultiDownload = false;
var Config_SupportSelfUpdate = false;
var Config_ExtractInDownload = false;
var Config_CheckPrerequiste = false;

var Config_Status = {
  NOTSTART: 0,
  COMPLETED: 1,
  ERROR: 2,
  CANCEL: 3,
  ENVIRONMENT_NOT_MEET: 4,
  DOWNLOADED: 5,
  STUB_FAILED: 6
};

var Config_RegRecorder = {
  OS: "_OS_",
  IsISO: "_IsISO_",
  Lang: "_Lang_",
  Directory: "_Directory_",
  Components: "_Components_",
  IsDownloadOnly: "_IsDownloadOnly_",
  DownloadUrl: "_DownloadUrl_",
  DownloadSize: "_DownloadSize_"
};

var Track_Properties = {
  STUB_CHANNEL: 0,
  STUB_LANGUAGE: 1,
  MSI_FILE_NAME: 2,
  INSTALL_ANALYTICS: 3,
  INSTALL_LICENSE: 4
};

// What the start checks require.
var Config_Requirements = {
  minimumOs: [10, 0, 17134],
  minimumBrowserMajor: 8,
  architectures: ["64", "A64"]
};
