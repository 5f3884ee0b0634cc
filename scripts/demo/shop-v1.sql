-- The example shop, release 1.
PRAGMA user_version = 1;

CREATE TABLE Customers (
    ID      INTEGER PRIMARY KEY,
    Name    TEXT NOT NULL,
    Email   TEXT,
    Country TEXT DEFAULT 'NL'
);
CREATE INDEX CustomersByName ON Customers(Name);

CREATE TABLE Products (
    ID    INTEGER PRIMARY KEY,
    Title TEXT NOT NULL,
    Price REAL NOT NULL
);

CREATE TABLE Orders (
    ID         INTEGER PRIMARY KEY,
    CustomerID INTEGER NOT NULL REFERENCES Customers(ID),
    OrderDate  TEXT NOT NULL,
    Note       TEXT
);

CREATE TABLE OrderLines (
    OrderID   INTEGER NOT NULL REFERENCES Orders(ID) ON DELETE CASCADE,
    ProductID INTEGER NOT NULL REFERENCES Products(ID),
    Quantity  INTEGER NOT NULL DEFAULT 1,
    PRIMARY KEY (OrderID, ProductID)
);

CREATE VIEW OrderTotals AS
    SELECT o.ID AS OrderID, SUM(l.Quantity * p.Price) AS Total
    FROM Orders o JOIN OrderLines l ON l.OrderID = o.ID JOIN Products p ON p.ID = l.ProductID
    GROUP BY o.ID;

INSERT INTO Customers VALUES (1, 'Ada', 'ada@example.org', 'NL'), (2, 'Brian', NULL, 'BE');
INSERT INTO Products VALUES (1, 'Tea', 3.5), (2, 'Coffee', 4.25), (3, 'Cocoa', 2.75);
INSERT INTO Orders VALUES (1, 1, '2026-01-05', NULL), (2, 2, '2026-01-06', 'leave at door');
INSERT INTO OrderLines VALUES (1, 1, 2), (1, 3, 1), (2, 2, 4);
