#pragma once

// Whether standard error is an interactive terminal (a person is watching).
bool stderr_is_terminal();
