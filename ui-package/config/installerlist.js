// The components the wizard can install besides the product package: the optional partner
// application offered on the Optional page. ECMAScript 5.
var installerList = {
  components: [{
    name: "Partner",
    type: 4,
    program: "Breezenote.exe",
    regKey: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Breezenote",
    regValue: "InstallPath",
    files: [{name: "BreezenoteSetup.exe", url: "https://download.halvern.com/partner/BreezenoteSetup.exe", size: 0, param: "/S"}]
  }]
};
