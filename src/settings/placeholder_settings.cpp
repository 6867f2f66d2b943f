// placeholder, replaced by the module's code
