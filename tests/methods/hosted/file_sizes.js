// Needs: big (a sparse 5 GiB file), open (a file another handle holds open), closed (the same
// eleven bytes, "hello world", in a file nobody holds).
var ext = window.external;
checkEqual(ext.getFileSize(big), "5368709120", "full 64-bit size");
checkEqual(ext.getFileSize(open), "0", "size of a file held open");
checkEqual(ext.getCrc(open), "0", "CRC of a file held open");
checkEqual(ext.getFileSize(closed), "11", "size of a closed file");
checkEqual(ext.getCrc(closed), "222957957", "CRC-32 of hello world");
check(host.logText().indexOf("EMGetFileSize 5368709120\r\n") >= 0, "getFileSize log");
check(host.logText().indexOf("EMGetCRC args " + closed + ", Result 222957957\r\n") >= 0, "getCrc log");
finish();
