// The delegates an application gives the updater: SPUStandardUserDriverDelegate hears about the
// standard dialogs (so a menu-bar-only application can come to the front around them), and
// SPUUpdaterDelegate is the hook for the updater's own decisions.
#pragma once

class SPUStandardUserDriverDelegate {
public:
  virtual ~SPUStandardUserDriverDelegate() = default;
  // Called just before and just after each modal alert of the standard user driver.
  virtual void standardUserDriverWillShowModalAlert() {}
  virtual void standardUserDriverDidShowModalAlert() {}
};

class SPUUpdaterDelegate {
public:
  virtual ~SPUUpdaterDelegate() = default;
};
