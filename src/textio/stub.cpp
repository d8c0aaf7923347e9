// Placeholder until the text layer lands.
