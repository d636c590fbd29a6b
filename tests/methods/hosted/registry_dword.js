// Needs: key, holding the REG_DWORD values MinusOne (0xFFFFFFFF) and Seven (7).
var ext = window.external;
checkEqual(ext.getDataFromReg(key, "MinusOne"), "-1", "0xFFFFFFFF");
checkEqual(ext.getDataFromReg(key, "Seven"), "7", "7");
finish();
