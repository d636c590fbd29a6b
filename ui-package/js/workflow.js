// What the pages and the stub's setup workflow share: result codes, component type flags, resume
// modes, and how a component's file record becomes the arguments of download and install.
// The numbers are the stub's too; neither side may renumber them. ECMAScript 5.

var Config_ErrorHandle = {
  NoError: 0,
  UnknowError: 1,
  FileNotExist: 2,
  DiskFull: 3,
  Failure: 4,
  Abort: 5,
  Md5Error: 6,
  VolumeReadOnly: 7,
  NoNetwork: 8,
  Cancelled: 9,
  Running: 10,
  Reboot: 11,
  HaveInstalled: 12,
  OtherInstalling: 13
};

var ComponentType = {
  Inherit: 0,
  X86: 1,
  X64: 2,
  Selectable: 4,
  MustSelect: 8,
  Patch: 16,
  Prerequiste: 32
};

var Config_ResumeMode = {
  NONE: 0,
  DOWNLOADING: 1,
  INSTALLING: 2
};

var Workflow = {
  // The local path of a file record: the download folder, a backslash, and the record's name
  // with its "/" separators turned into "\".
  localPath: function (downloadPath, file) {
    var folder = downloadPath.replace(/\\+$/, "");
    return folder + "\\" + file.name.replace(/\//g, "\\");
  },

  // Replaces every "${name}" in text with the value that lookup(name) gives; unknown names stay.
  expand: function (text, lookup) {
    return text.replace(/\$\{([A-Za-z0-9_]+)\}/g, function (whole, name) {
      var value = lookup(name);
      return value === undefined || value === null ? whole : String(value);
    });
  },

  // The installer file of a component: the first file record that has a "param".
  installerFile: function (component) {
    for (var i = 0; i < component.files.length; i++) {
      if (component.files[i].hasOwnProperty("param")) return component.files[i];
    }
    return null;
  },

  // The parameters that install receives: an MSI package also gets INSTALLDIR when the install
  // folder is known.
  installParameters: function (path, param, installPath) {
    if (/\.msi$/i.test(path) && installPath) return param + " INSTALLDIR=\"" + installPath + "\"";
    return param;
  },

  // True for the last call of a workflow callback; Running marks a progress report.
  isFinal: function (result) {
    return result !== Config_ErrorHandle.Running;
  }
};
