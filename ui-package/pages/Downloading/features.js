// The Downloading page's switches: the resumable verified download of plain URLs into the
// temporary folder, no CRC check. ECMAScript 5.
var pageFeatures = {downloadMode: "ResumableSimple", tokenizedUrls: false, checkCrc: false, folderMode: "Temp"};
