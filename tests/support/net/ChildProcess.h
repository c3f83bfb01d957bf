// Starts helper processes (test servers, proxies) so that they die with the test process even
// when the test crashes before its cleanup.
#pragma once

#include <QProcess>

// Arms QProcess so the child gets SIGTERM as soon as the starting thread ends.
void EndWithParent(QProcess& process);
