// What every page shares: texts, the window's own title bar and keys, navigation by document
// title, the closing step, progress, the download and install jobs, the resume record and the
// analytics helpers. ECMAScript 5 only: the pages run in the system's HTML engine.
var Common = (function () {
  var closed = false;
  var silent = null;

  function prop(name) {
    var value = appExternal.getProperty(name);
    return value === undefined || value === null ? "" : String(value);
  }

  function setProp(name, value) {
    appExternal.setProperty(name, String(value));
  }

  function pageName() {
    return document.title;
  }

  function isSilent() {
    if (silent === null) silent = appExternal.isSilentLaunchStub() === true;
    return silent;
  }

  function lang() {
    var code = prop("lang");
    for (var i = 0; i < installParams.LANG.length; i++) if (installParams.LANG[i] === code) return code;
    return installParams.LANG[0];
  }

  // The text of key in the run's language ("en" when that language lacks it), with every
  // "{name}" replaced from values.
  function text(key, values) {
    var table = stubParams.languages[lang()] || stubParams.languages.en;
    var value = table.hasOwnProperty(key) ? table[key] : stubParams.languages.en[key];
    return String(value === undefined ? key : value).replace(/\{([a-z]+)\}/g, function (whole, name) {
      return values && values.hasOwnProperty(name) ? String(values[name]) : whole;
    });
  }

  function applyTexts() {
    document.documentElement.lang = lang();
    $("[data-text]").each(function () { $(this).text(text($(this).attr("data-text"))); });
    $("[data-label]").each(function () {
      var label = text($(this).attr("data-label"));
      $(this).attr({"aria-label": label, title: label});
    });
  }

  // Selects the language of code (a two-letter code the stub knows) for the stub and the pages.
  function selectLanguage(code) {
    var number = appExternal.getParsedInstallLanguage(code);
    if (number > 0) appExternal.setLang(number);
    return number > 0;
  }

  function setStatus(status) {
    appExternal.setInstallStatus(status);
    setProp("Config_Status", status);
  }

  // Reports a button press as "<page>_<action>"; a page may report under another name.
  function track(action, page) {
    var name = page || (window.pageFeatures && pageFeatures.activityName) || pageName();
    appExternal.trackUserActivity(name + "_" + action);
  }

  function event(name, data) {
    appExternal.trackingByAnalyticsSDK(name, data);
  }

  function trackProperty(index, value) {
    appExternal.setTrackingProperty(index, String(value));
  }

  var failReasons = ["FileNotExist", "DiskFull", "Failure", "Md5Error", "VolumeReadOnly", "NoNetwork",
                     "HaveInstalled", "OtherInstalling"];

  function errorName(code) {
    for (var name in Config_ErrorHandle) {
      if (Config_ErrorHandle.hasOwnProperty(name) && Config_ErrorHandle[name] === code) {
        for (var i = 0; i < failReasons.length; i++) if (failReasons[i] === name) return name;
      }
    }
    return "UnknowError";
  }

  function completionText(errorCode) {
    if (errorCode !== undefined) return "install.completed=NOK|install.fail-reason=" + errorName(errorCode);
    var status = prop("Config_Status");
    if (status === "1") return "install.completed=OK";
    if (status === "3") return "install.completed=CNX|install.fail-reason=UserCanceled";
    if (status === "4") return "install.completed=NOK|install.fail-reason=EnviromentNotMeet";
    return "install.completed=NOK|install.fail-reason=UnknowError";
  }

  // The closing step, once per page: a second request (a double click, an error after a close)
  // would report the run twice. Only a run that prepared a restart leaves the relaunch and the
  // resume record behind; any other ending takes them away, an earlier run's as well.
  function close(errorCode) {
    if (closed) return;
    closed = true;
    if (prop("restartPrepared") !== "true") undoPrepareResume();
    event("install.completed", completionText(errorCode));
    appExternal.closeWindow();
  }

  function cancel() {
    setStatus(Config_Status.CANCEL);
    close();
  }

  // The run's status as the wizard leaves it: "Config_Status" as a number, 3 when there is none.
  function settleStatus() {
    var status = parseInt(prop("Config_Status"), 10);
    if (isNaN(status)) status = Config_Status.CANCEL;
    appExternal.setInstallStatus(status);
    return status;
  }

  function go(page) {
    var prefix = pageName() === "Load" ? "pages/" : "../";
    window.location.href = prefix + page + "/page.html";
  }

  // Steps by (+1 or -1) through the sequence; a page outside it, or a step past either end,
  // closes the wizard. A page outside it (Installing, after a restart) first stores the run's
  // status as Finish does, so a finished install does not count as cancelled.
  function step(by) {
    var at = -1;
    for (var i = 0; i < Config_SequencePages.length; i++) if (Config_SequencePages[i] === pageName()) at = i;
    if (at < 0) {
      settleStatus();
      return close();
    }
    for (var to = at + by; to >= 0 && to < Config_SequencePages.length; to += by) {
      if (Config_SequencePages[to] === "Prerequisite" && prop("skip_prerequisite_page") === "true") continue;
      return go(Config_SequencePages[to]);
    }
    close();
  }

  function errorMessage(code, lastInstallError) {
    if (code === Config_ErrorHandle.NoNetwork) return text("noNetwork");
    if (code === Config_ErrorHandle.DiskFull || lastInstallError === 5100) return text("diskFull");
    if (code === Config_ErrorHandle.OtherInstalling) return text("otherInstalling");
    return text("failed");
  }

  // Ends the run after a failed download or install: status 2, the user's message, the closing
  // step with the error's name.
  function fail(code, lastInstallError) {
    setStatus(Config_Status.ERROR);
    if (!isSilent()) appExternal.messageBox(errorMessage(code, lastInstallError), stubParams.product);
    close(code);
  }

  // The page's own title bar and keys: drag by the bar, minimise, close (also Escape), Enter for
  // the default button.
  function initChrome(onClose) {
    applyTexts();
    var ratio = parseFloat(prop("ui_ratio"));
    if (ratio > 0 && ratio < 1) document.body.style.zoom = ratio;
    $("#titlebar").on("mousedown", function (e) {
      if (e.which === 1 && !$(e.target).closest("button").length) appExternal.dragWindow();
    });
    $("#btnMinimize").on("click", function () { appExternal.minimizedWindow(); });
    $("#btnClose").on("click", function () { onClose(); });
    $(document).on("keydown", function (e) {
      if (e.which === 27) {
        e.preventDefault();
        onClose();
      } else if (e.which === 13 && !$(e.target).is("button, a, input[type=checkbox], select")) {
        var button = $(".default:enabled:visible").first();
        if (button.length) {
          e.preventDefault();
          button.click();
        }
      }
    });
  }

  function formatSize(bytes) {
    var units = ["B", "KB", "MB", "GB"], value = bytes, unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
      value /= 1024;
      unit++;
    }
    return (unit === 0 ? String(value) : value.toFixed(1).replace(".", text("decimal"))) + " " + units[unit];
  }

  // The progress bar of a page: percentage, size and remaining time of the running job. An
  // installation counts steps, not bytes, so it shows no size.
  function Progress() {
    this.started = null;
    this.bytes = true;
    $("#progress").progressbar({value: 0});
  }

  Progress.prototype.show = function (total, current) {
    total = total > 0 ? total : 0;
    current = current > 0 ? Math.min(current, total) : 0;
    var percent = total > 0 ? Math.floor(current * 100 / total) : 0;
    var now = new Date().getTime();
    if (this.started === null || current === 0) this.started = {time: now, current: current};
    $("#progress").progressbar("value", percent);
    $("#percent").text(text("percent", {n: percent}));
    $("#size").text(total > 0 && this.bytes ? text("sizeOf", {current: formatSize(current), total: formatSize(total)}) : "");
    var elapsed = (now - this.started.time) / 1000, done = current - this.started.current;
    var remaining = "";
    if (elapsed >= 1 && done > 0 && current < total) {
      var seconds = Math.ceil((total - current) * elapsed / done);
      remaining = seconds >= 90 ? text("minutesLeft", {n: Math.round(seconds / 60)}) : text("secondsLeft", {n: seconds});
    }
    $("#remaining").text(remaining);
  };

  Progress.prototype.restart = function (bytes) {
    this.started = null;
    this.bytes = bytes;
    this.show(0, 0);
  };

  // --- Resume record: the run's choices below the product key, read back after a restart.

  function recordKey() {
    return appExternal.getBaseRegKey() + "\\ResumeRecord";
  }

  // The package's own components, each for both editions.
  function componentNames() {
    var names = [], bases = ["MainContent"];
    for (var i = 0; i < installerList.components.length; i++) bases.push(installerList.components[i].name);
    for (var j = 0; j < bases.length; j++) names.push(bases[j] + "32", bases[j] + "64");
    return names;
  }

  function selectedComponents() {
    var names = [], bits = prop("osbits") === "64" ? "64" : "32", all = componentNames();
    for (var i = 0; i < all.length; i++) if (all[i].slice(-2) === bits && prop(all[i]) === "true") names.push(all[i]);
    return names;
  }

  function record() {
    var key = recordKey(), values = {};
    values[Config_RegRecorder.OS] = prop("osbits") === "64" ? "64" : "32";
    values[Config_RegRecorder.IsISO] = prop("isISO");
    values[Config_RegRecorder.Lang] = lang();
    values[Config_RegRecorder.Directory] = prop("downloadPath");
    values[Config_RegRecorder.IsDownloadOnly] = prop("isDownloadOnly");
    values[Config_RegRecorder.DownloadUrl] = prop("downloadUrl");
    values[Config_RegRecorder.DownloadSize] = prop("downloadSize");
    values[Config_RegRecorder.Components] = selectedComponents().join(";");
    for (var name in values) {
      if (values.hasOwnProperty(name) && values[name] !== "") appExternal.setDataToReg(key, name, values[name], true);
    }
  }

  // Reads the run's choices back after a restart. Any program of the user can write the record,
  // so only what steers no download, folder or program is taken: the edition, download-only, the
  // package's own components and a language it offers. The address and the folder come from the
  // package and the stub, as in any run.
  function resume() {
    var key = recordKey();
    if (appExternal.getDataFromReg(key, Config_RegRecorder.OS) === "64") setProp("isDownload64", "true");
    var downloadOnly = appExternal.getDataFromReg(key, Config_RegRecorder.IsDownloadOnly);
    if (downloadOnly === "true" || downloadOnly === "false") setProp("isDownloadOnly", downloadOnly);
    var recorded = ";" + appExternal.getDataFromReg(key, Config_RegRecorder.Components) + ";", own = componentNames();
    for (var i = 0; i < own.length; i++) if (recorded.indexOf(";" + own[i] + ";") >= 0) setProp(own[i], "true");
    var code = appExternal.getDataFromReg(key, Config_RegRecorder.Lang);
    for (var j = 0; j < installParams.LANG.length; j++) if (installParams.LANG[j] === code) selectLanguage(code);
  }

  // Takes a finished component out of the record's list, keeping only the package's own; a run
  // without a record makes none.
  function updateComponents(component) {
    var key = recordKey(), kept = [], found = false;
    var listed = ";" + appExternal.getDataFromReg(key, Config_RegRecorder.Components) + ";", own = componentNames();
    for (var i = 0; i < own.length; i++) {
      if (listed.indexOf(";" + own[i] + ";") < 0) continue;
      if (own[i] === component) found = true;
      else kept.push(own[i]);
    }
    if (found) appExternal.setDataToReg(key, Config_RegRecorder.Components, kept.join(";"), true);
  }

  function delRecord() {
    appExternal.deleteRegKey(recordKey(), true);
  }

  // Registers the relaunch on page after the restart an installer asked for, with the record of
  // the run's choices; the closing step then leaves both.
  function prepareResume(page) {
    record();
    appExternal.runAfterReboot(page);
    setProp("restartPrepared", "true");
  }

  function undoPrepareResume() {
    appExternal.undoRunAfterReboot();
    delRecord();
  }

  // --- Download and install jobs.

  function fileName(url) {
    return url.replace(/[?#].*$/, "").replace(/^.*\//, "");
  }

  function expand(template, names) {
    return Workflow.expand(template, function (name) {
      for (var i = 0; i < names.length; i++) if (names[i] === name) return encodeURIComponent(prop(name));
      return undefined;
    });
  }

  // The files to fetch: the product package, then the partner application when chosen.
  function jobs() {
    var downloadPath = prop("downloadPath");
    if (!downloadPath) {
      downloadPath = appExternal.getTempPath("");
      setProp("downloadPath", downloadPath);
    }
    var bits = prop("osbits") === "64" ? "64" : "32";
    var url = prop("downloadUrl") || expand(installParams.DOWNLOAD_URL, ["lang", "osbits"]);
    setProp("downloadUrl", url);
    var main = {component: "MainContent" + bits, main: true, url: url,
                path: Workflow.localPath(downloadPath, {name: fileName(url)}),
                param: installParams.EXE_PARAMETERS + " /qb!"};
    setProp(main.component, "true");
    var list = [main];
    if (prop("selectOptional") === "yes") {
      var partner = installerList.components[0], file = partner.files[0];
      list.push({component: partner.name + bits, url: file.url, path: Workflow.localPath(downloadPath, file),
                 param: file.param, program: partner.program, regKey: partner.regKey, regValue: partner.regValue});
      setProp(partner.name + bits, "true");
    }
    return list;
  }

  // The size of the product package: the stored one, else the stub's probe.
  function packageSize(job) {
    var size = parseInt(prop("downloadSize"), 10);
    if (size > 0) return size;
    appExternal.initDownloadSize(job.url, job.path, true);
    return parseInt(prop("downloadTotal"), 10) || 0;
  }

  function folderOf(path) {
    return path.substring(0, path.lastIndexOf("\\"));
  }

  // Downloads list[index] and the rest after it; done() runs after the last one.
  function download(list, index, progress, done) {
    if (index >= list.length) return done();
    var job = list[index], folder = folderOf(job.path);
    if (!appExternal.isFileExists(folder) && !appExternal.createDirectory(folder)) return fail(Config_ErrorHandle.VolumeReadOnly);
    progress.restart(true);
    appExternal.download(job.url, job.path, "", false, true, function (result, total, current) {
      if (result === Config_ErrorHandle.Running) return progress.show(total, current);
      if (result === Config_ErrorHandle.Abort) return setStatus(Config_Status.CANCEL);
      if (result === Config_ErrorHandle.HaveInstalled) return step(1);
      if (result !== Config_ErrorHandle.NoError) return fail(result);
      setProp("Config_Status", Config_Status.DOWNLOADED);
      download(list, index + 1, progress, done);
    });
  }

  function storeVid(parameters) {
    var vid = /(?:^|\s)VID=("?)([^"\s]*)\1/i.exec(parameters);
    if (vid) setProp("vid", vid[2]);
  }

  // Installs job; then(result) follows its final result (0 for success, Reboot included). The
  // product's installation asking for a restart prepares the relaunch on the Installing page.
  function install(job, progress, then) {
    storeVid(job.param);
    if (job.main) {
      var prepared = appExternal.prepareInstall(job.path);
      if (prepared === 1 || prepared === 2) {
        setProp("Config_Status", prepared === 1 ? Config_Status.COMPLETED : Config_Status.ERROR);
        return step(1);
      }
      if (prepared !== 0) return fail(Config_ErrorHandle.Failure);
    }
    progress.restart(false);
    appExternal.install(job.path, job.param, 180, function (result, total, current) {
      if (result === Config_ErrorHandle.Running) return progress.show(total, current);
      if (result === Config_ErrorHandle.Reboot) {
        if (job.main) prepareResume("Installing");
        result = Config_ErrorHandle.NoError;
      }
      updateComponents(job.component);
      if (result === Config_ErrorHandle.HaveInstalled) return step(1);
      if (result !== Config_ErrorHandle.NoError) {
        // The product is in place when the partner application fails: the run reports that first.
        if (!job.main) close();
        return fail(result, appExternal.getLastInstallError());
      }
      if (job.program && job.regKey) {
        var location = appExternal.getDataFromReg(job.regKey, job.regValue);
        if (location.length >= 3) setProp("startProgram", /\\$/.test(location) ? location + job.program : location);
      }
      then();
    });
  }

  // The product's installation, then the next page 3 s later.
  function installProduct(list, progress) {
    install(list[0], progress, function () {
      setProp("Config_Status", Config_Status.COMPLETED);
      window.setTimeout(function () { step(1); }, 3000);
    });
  }

  // The actions an administrator can configure for the end of the installation, for a product's
  // own pages to run (the wizard's Finish button does not): the names of the ones that were set
  // and failed.
  function postInstallActions() {
    var key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Setup\\StubFrameWork", failed = [];
    var actions = {
      RunAPP: function (parameter) { return appExternal.runApplication(parameter); },
      OpenURL: function (parameter) { return appExternal.openPage(parameter); },
      ExecuteCMD: function (parameter) { return appExternal.executeCommand(parameter); }
    };
    for (var name in actions) {
      if (actions.hasOwnProperty(name)) {
        var parameter = appExternal.getDataFromReg(key, name);
        if (parameter && !actions[name](parameter)) failed.push(name);
      }
    }
    return failed;
  }

  return {
    prop: prop, setProp: setProp, pageName: pageName, isSilent: isSilent, lang: lang, text: text,
    applyTexts: applyTexts, selectLanguage: selectLanguage, setStatus: setStatus, settleStatus: settleStatus,
    track: track, event: event,
    trackProperty: trackProperty, completionText: completionText, close: close, cancel: cancel, go: go,
    next: function () { step(1); }, previous: function () { step(-1); }, fail: fail, initChrome: initChrome,
    Progress: Progress, formatSize: formatSize, expand: expand, fileName: fileName,
    record: record, resume: resume, updateComponents: updateComponents, delRecord: delRecord,
    prepareResume: prepareResume, undoPrepareResume: undoPrepareResume,
    jobs: jobs, packageSize: packageSize, download: download, install: install, installProduct: installProduct,
    postInstallActions: postInstallActions
  };
}());
