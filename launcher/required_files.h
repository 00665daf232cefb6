#pragma once

// Logs "<name> not found" for each file of the installation missing from the
// working directory, in a fixed order, and returns how many are missing.
int CheckRequiredFiles();

// The one box that tells the user the installation is incomplete.
void ShowRequiredFilesMessage();
