// The Status page: the drives the driver serves, with the volume file,
// algorithm and size of each, whether the driver runs and its version, and
// the "Dismount" and "Dismount All" buttons. The tray menu shows it, selects
// a drive and presses these buttons.
#pragma once
#include <stdint.h>

#include <string>

#include "app/pages/page.h"
#include "driver/driver_port.h"

class StatusPage : public Page {
 public:
  explicit StatusPage(DriverPort& port);

  // The logon session passed to the driver with every dismount.
  void SetLogonSessionId(uint32_t id) { logonSessionId_ = id; }
  // Rebuilds the driver information and the list of drives.
  void Refresh();
  // Selects and focuses the row of a drive and scrolls it into view; false
  // when the list has no such row.
  bool SelectDrive(char letter);

 protected:
  UINT TemplateId() const override;
  bool ProcessPageMessage(const WindowMessage& m, LRESULT& result) override;

 private:
  bool OnInitDialog(const WindowMessage& m, LRESULT& result);
  void OnDismount(UINT id, UINT code, HWND control);
  void OnDismountAll(UINT id, UINT code, HWND control);
  HWND List() const;
  std::string DriveTextOf(int item) const;

  DriverPort& port_;
  uint32_t logonSessionId_ = 0;
};
