#pragma once

class SettingsModel;

// Lets the user pick the fixed output folder; a cancelled dialog changes nothing.
void chooseFolder(SettingsModel& model);
