// The window's pages arrive with the console.
