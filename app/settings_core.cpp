// Settings values, defaults and window placement.
