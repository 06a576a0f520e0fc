// No window system to drive: qmhost refuses --windows here (OpenMainWindow), so a
// driver is never made; these keep the link whole.
#include "qmhost/window_driver.h"

namespace qmhost {

struct WindowDriver::State {};

WindowDriver::WindowDriver(EventWriter&) {}
WindowDriver::~WindowDriver() = default;

int WindowDriver::DriveMessageBox(const std::string&, int, const std::function<int()>& show) { return show(); }

int WindowDriver::DriveForm(qmos::Form&, const std::vector<FormAction>&, bool, const std::function<int()>& show) {
  return show();
}

std::string WindowDriver::MainWindowTitle() const { return ""; }

bool OpenMainWindow(std::string& error) {
  error = "--windows needs the Windows build of qmhost: there are no windows to show here";
  return false;
}

}  // namespace qmhost
