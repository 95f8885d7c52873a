// Path functions on "\\"-separated texts.
