// Prepended by run_script.sh to every script it runs: the helpers they share.
function check(label, actual, expected) {
    WScript.Echo((actual === expected ? "ok " : "FAIL ") + label +
                 (actual === expected ? "" : ": got [" + actual + "] expected [" + expected + "]"));
}

// The FTP engine the run chose (run_script.sh's engine argument); else the
// class's default.
function useEngineOfRun(made) {
    var engine = new ActiveXObject("WScript.Shell").Environment("PROCESS").Item("CORVANE_TEST_FTP_ENGINE");
    if (engine !== "") made.Engine = parseInt(engine, 10);
    // The FTPS run: the certificate names localhost, the scripts 127.0.0.1.
    if (new ActiveXObject("WScript.Shell").Environment("PROCESS").Item("CORVANE_TEST_FTP_SECURITY") !== "") {
        made.Security = 1;
        made.IgnoreCertificateErrors = true;
    }
}
