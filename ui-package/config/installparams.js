// The run's install parameters. ECMAScript 5.
var installParams = {
  DOWNLOAD_URL: "https://download.halvern.com/setup/${lang}/Halvern_${osbits}.msi",
  CHNL: "web",
  PRODUCT_FILE_NAME: "Halvern",
  TYP_URL: "https://www.halvern.com/thank-you?pid=${pid}&version=${version}&lang=${lang}&bits=${osbits}&vid=${vid}",
  EXE_PARAMETERS: "VID=halvern-web REBOOT=ReallySuppress",
  LANG: ["en", "fr", "de", "es"]
};
