// page scripts: js/workflow.js
// How the pages turn a component's file records into download and install arguments.
checkEqual(Workflow.localPath("C:\\Downloads\\", {name: "core/x64/setup.msi"}), "C:\\Downloads\\core\\x64\\setup.msi");
checkEqual(Workflow.localPath("C:\\Downloads", {name: "readme.txt"}), "C:\\Downloads\\readme.txt");

var properties = {lang: "de", osbits: 64};
function lookup(name) { return properties[name]; }
checkEqual(Workflow.expand("https://cdn.example/${lang}/app${osbits}.msi?v=${version}", lookup),
           "https://cdn.example/de/app64.msi?v=${version}");

var component = {files: [{name: "data.cab"}, {name: "setup.msi", param: "/qn"}, {name: "x.exe", param: ""}]};
checkEqual(Workflow.installerFile(component).name, "setup.msi");
checkEqual(Workflow.installerFile({files: [{name: "a.cab"}]}), null);

checkEqual(Workflow.installParameters("C:\\d\\setup.MSI", "/qn", "C:\\Program Files\\Halvern"),
           "/qn INSTALLDIR=\"C:\\Program Files\\Halvern\"");
checkEqual(Workflow.installParameters("C:\\d\\setup.msi", "/qn", ""), "/qn");
checkEqual(Workflow.installParameters("C:\\d\\setup.exe", "/S", "C:\\Halvern"), "/S");

check(!Workflow.isFinal(Config_ErrorHandle.Running), "a progress report is not final");
check(Workflow.isFinal(Config_ErrorHandle.NoError) && Workflow.isFinal(Config_ErrorHandle.Abort), "other codes end the operation");
checkEqual(ComponentType.X64 | ComponentType.Selectable, 6);
finish();
