-- The example shop, release 2: a new table, a changed field, a unique index,
-- a field gone, a new view column and a changed price.
PRAGMA user_version = 2;

CREATE TABLE Customers (
    ID      INTEGER PRIMARY KEY,
    Name    TEXT NOT NULL,
    Email   TEXT NOT NULL DEFAULT '',
    Country TEXT DEFAULT 'NL'
);
CREATE UNIQUE INDEX CustomersByName ON Customers(Name);

CREATE TABLE Products (
    ID    INTEGER PRIMARY KEY,
    Title TEXT NOT NULL,
    Price NUMERIC(10,2) NOT NULL
);

CREATE TABLE Orders (
    ID         INTEGER PRIMARY KEY,
    CustomerID INTEGER NOT NULL REFERENCES Customers(ID),
    OrderDate  TEXT NOT NULL
);

CREATE TABLE OrderLines (
    OrderID   INTEGER NOT NULL REFERENCES Orders(ID) ON DELETE CASCADE,
    ProductID INTEGER NOT NULL REFERENCES Products(ID),
    Quantity  INTEGER NOT NULL DEFAULT 1,
    PRIMARY KEY (OrderID, ProductID)
);

CREATE TABLE Shipments (
    ID      INTEGER PRIMARY KEY,
    OrderID INTEGER NOT NULL REFERENCES Orders(ID),
    Carrier TEXT
);

CREATE VIEW OrderTotals AS
    SELECT o.ID AS OrderID, COUNT(*) AS Lines, SUM(l.Quantity * p.Price) AS Total
    FROM Orders o JOIN OrderLines l ON l.OrderID = o.ID JOIN Products p ON p.ID = l.ProductID
    GROUP BY o.ID;

INSERT INTO Customers VALUES (1, 'Ada', 'ada@example.org', 'NL'), (2, 'Brian', '', 'BE');
INSERT INTO Products VALUES (1, 'Tea', 3.5), (2, 'Coffee', 4.5), (3, 'Cocoa', 2.75);
INSERT INTO Orders VALUES (1, 1, '2026-01-05'), (2, 2, '2026-01-06');
INSERT INTO OrderLines VALUES (1, 1, 2), (1, 3, 1), (2, 2, 4);
INSERT INTO Shipments VALUES (1, 1, 'PostNL');
